// Which core commands this build carries. The maintenance commands and the
// version upgrade land in their own files; until they do, the screens show a
// notice in their place.
#pragma once
#if __has_include("maintenance/changeover.cpp")
#define VELMO_HAVE_MAINT 1
#else
#define VELMO_HAVE_MAINT 0
#endif
#if __has_include("schema/dbversion.cpp")
#define VELMO_HAVE_DBVERSION 1
#else
#define VELMO_HAVE_DBVERSION 0
#endif
#if __has_include("schema/datacheck.cpp")
#define VELMO_HAVE_DATACHECK 1
#else
#define VELMO_HAVE_DATACHECK 0
#endif

#include <string>

namespace velmo::screens {
// The database version of kova_this.mdb ("Subject"), or the "not set" text.
std::string DatabaseVersion();
// The notice of a command this build does not carry.
void CommandMissing(const std::string& title);
}  // namespace velmo::screens
