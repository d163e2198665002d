#include "download/probe.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include "common/globals.h"
#include "download/catalogue.h"

namespace velmo {

namespace {

// The status of one request; 0 when none arrived.
int statusOf(QNetworkAccessManager& nam, const QNetworkRequest& req, bool head) {
  QNetworkReply* reply = head ? nam.head(req) : nam.get(req);
  QEventLoop loop;
  int status = 0;
  QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [&]() {
    status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 0) loop.quit();
  });
  QObject::connect(reply, &QNetworkReply::finished, &loop, [&]() {
    if (status == 0) status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    loop.quit();
  });
  QTimer::singleShot(std::max(1, G().gStallSeconds) * 1000, &loop, &QEventLoop::quit);
  loop.exec();
  reply->abort();
  reply->deleteLater();
  return status;
}

}  // namespace

int ProbeAddress(const std::string& address) {
  if (!QCoreApplication::instance()) {
    static int argc = 1;
    static char name[] = "velmo";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
  }
  auto& g = G();
  QNetworkAccessManager nam;
  QNetworkRequest req(QUrl(QString::fromStdString(FetchAddress(address, g.gUserID))));
  req.setRawHeader("Authorization", "Basic " + QByteArray::fromStdString(g.gUserID + ":" + g.gPasswd).toBase64());
  req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
  int status = statusOf(nam, req, true);
  if (status == 405 || status == 501) status = statusOf(nam, req, false);
  if (status >= 200 && status < 300) return 1;
  if (status == 404) return -2;
  return -1;
}

}  // namespace velmo
