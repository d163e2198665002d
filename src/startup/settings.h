// The settings file kova.ini (section "main") and the program settings.
#pragma once
#include <string>
#include <vector>

namespace velmo {

// Full path of kova.ini in the settings folder.
std::string IniPath();
// Profile read: the value of key in section, or the default; at most 127 bytes.
std::string GetIni(const std::string& section, const std::string& key, const std::string& def);
// Profile write; true when written. The file is created readable by its owner only.
bool SetIni(const std::string& section, const std::string& key, const std::string& value);
// Reads the six settings, restores the password, sets and creates gTmpDir and gDwnDir.
void LoadSettings();

// Password scrambler.
std::string EncodeSetting(const std::string& text);
std::string DecodeSetting(const std::string& stored);

// The provider's web host: setting "KovaHost" of section "main", ending in "/".
// The catalogue's addresses are written on the default host and mapped onto the
// configured one, so that this one setting moves every address the program fetches.
constexpr const char* kDefaultKovaHost = "http://www.kova.example/";
std::string KovaHost();
// The server copy's connection (setting "Mirror": a libpq connection string or
// URI, possibly with a password: never shown or logged); empty: no copy.
std::string MirrorSetting();
// An address on the default host moved onto the configured host; other addresses unchanged.
std::string MapToKovaHost(const std::string& address);
// The public list folder: the web host followed by "data/lst/".
std::string PublicListUrl();

// Backups taken before a command deletes or rewrites data: the folder (setting
// "BackupDir", default the database folder + "backup/", ending in "/"; a
// relative setting is a folder in the database folder) and the
// number of copies kept per database (setting "BackupGenerations", default 3;
// 0 switches backups off).
std::string BackupDir();
int BackupGenerations();
constexpr int kDefaultBackupGenerations = 3;

// Splits a command line at blanks and tabs into at most maximum words.
int SplitCommandLine(const std::string& commandLine, std::vector<std::string>& words, int maximum = 10);

// Upserts one row of "Sアドイン管理" in kova_this.mdb of the database folder.
void RegAddIn(const std::string& softId, const std::string& name, const std::string& path);

}  // namespace velmo
