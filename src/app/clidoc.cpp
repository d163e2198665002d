#include "app/clidoc.h"

namespace velmo::cli {

namespace {
constexpr const char* kYes =
    "answers every question yes; without it a question is asked on the terminal, and refused where there is none";
}  // namespace

const std::vector<HelpEntry>& HelpEntries() {
  static const std::vector<HelpEntry> rows = {
      // velmo, the program itself: its forms of call
      {"velmo", "", "",
       "Velmo registers the KOVA horse-racing data provider's archives into the local databases that a member's "
       "racing programs read: kova_this.mdb (this week's data), kova_data.mdb (past data) and kova_code.mdb (code "
       "tables), SQLite files. At the first start the initial setup makes the database folder and copies the initial "
       "databases into it; the settings screen asks for the data storage folder and the member ID and password."},
      {"velmo", "", "", "Without words: the screen mode, the main screen with this week's and the past data lists."},
      {"velmo", "DATAID DOWNONLY yyyymmdd", "",
       "The silent mode that a parent program starts: fetches the archive of data ID DATAID for the date and registers "
       "it into this week's database (DOWNONLY 1: only files it into the data storage folder). No message box is "
       "shown; the result is the exit code."},
      {"velmo", "ARCHIVE.lzh...", "",
       "Opens the screen mode and, after asking, registers the archives as \"ファイルから登録\" does (the desktop's "
       "\"Open with Velmo\")."},
      // register
      {"register", "", "",
       "Registers archives in the main screen's order (pack archives first) with the settings of kova.ini, one "
       "progress line per file on standard error. Archives are committed a couple of seconds' worth at a time; a "
       "file that fails is rolled back alone. Exit 0 when every archive registered, 1 when any failed."},
      {"register", "--source", "J|V", "J: the provider's archives (default); V: archives of JRA-VAN data files"},
      {"register", "--mode", "T|D", "T: this week's database kova_this.mdb (default); D: the past database kova_data.mdb"},
      // van-recode
      {"van-recode", "", "",
       "The menu command \"VANコード再変換\": replaces the JRA-VAN jockey and trainer codes of the past database's "
       "entries and results by the provider's codes."},
      {"van-recode", "--yes", "", kYes},
      // sql
      {"sql", "", "",
       "Runs one Jet SQL statement on a database, as the SQL screen does: a select prints a header line and its rows, "
       "tab-separated; any other statement prints the number of records affected and is committed. An error prints "
       "the engine's number and description on standard error."},
      {"sql", "--db", "this|data|code|PATH", "the database: this week's (default), the past, the code database, or a file"},
      // changeover
      {"changeover", "", "",
       "The weekly changeover: moves this week's table families into the past database and empties the week's odds, "
       "previous-run and registration tables. Ctrl-C stops it after the family being moved."},
      {"changeover", "--yes", "", kYes},
      // delete
      {"delete", "", "", "Deletes the race dates of the range (both included, in either order) from every table family of the database."},
      {"delete", "--db", "this|data", "this week's or the past database"},
      {"delete", "--from", "yyyymmdd", "first race date of the range"},
      {"delete", "--to", "yyyymmdd", "last race date of the range"},
      {"delete", "--yes", "", kYes},
      // compact
      {"compact", "", "", "Compacts the database into the work copy _wk.mdb of the database folder and puts the copy in its place."},
      {"compact", "--db", "this|data", "this week's or the past database"},
      {"compact", "--yes", "", kYes},
      // rebuild-list
      {"rebuild-list", "", "",
       "Rebuilds Dデータ一覧テーブル from the registered past data in one transaction; a failure keeps the previous list."},
      {"rebuild-list", "--yes", "", kYes},
      // master-update
      {"master-update", "", "",
       "Fetches the newest \"KZ_\", \"CZ_\" and \"MZ_\" archives (and, with VAN=1, the code change files) and registers "
       "them into this week's database."},
      {"master-update", "--yes", "", kYes},
      // upgrade
      {"upgrade", "", "", "Brings a Ver5.0, Ver6.0 or Ver7.0 database pair to Ver7.2."},
      {"upgrade", "--force", "", "runs the Ver7.2 step again on a current pair and rebuilds old tables with native column types"},
      {"upgrade", "--yes", "", kYes},
      // check
      {"check", "", "",
       "Fetches datacheckD.txt and datacheckUK.txt from the public list folder, writes the data check report "
       "datacheckD_Result.txt and prints it."},
      {"check", "--yes", "", kYes},
      // list
      {"list", "", "", "Prints the data list of this week's or the past database, newest date first."},
      {"list", "--db", "this|data", "this week's (default) or the past database"},
      {"list", "--json", "", "prints JSON instead of a table"},
      // update
      {"update", "", "",
       "The internet registration without a screen and without any question: for each data ID it fetches the kind's "
       "list file and every listed archive dated in the range (or the archive of each date for a kind without a list "
       "file), registers them pack archives first and files each into LzhDir. An archive that does not register is "
       "kept in dwn/failed/. One line per archive on standard error."},
      {"update", "--mode", "T|D", "this week's (default) or the past mode; the default kinds are the mode's usual set"},
      {"update", "--kinds", "ID,...", "the data IDs to fetch instead of the mode's usual set"},
      {"update", "--from", "yyyymmdd", "first date of the range (default today; alone: one day)"},
      {"update", "--to", "yyyymmdd", "last date of the range (at most 366 days)"},
      {"update", "--download-only", "", "files the archives into LzhDir unregistered"},
      {"update", "--missing", "",
       "fetches and registers only the archives the data ledger shows missing, failed or partial (default range: the "
       "seven days up to today); a killed run started again fetches only what is still missing"},
      {"update", "--json", "", "prints one summary line of JSON on standard output"},
      {"update", "exit 3", "", "nothing was published for the range"},
      // schedule
      {"schedule", "", "",
       "A daily \"velmo-cli update\" as a systemd user timer (velmo-update.service and velmo-update.timer in "
       "$XDG_CONFIG_HOME/systemd/user/), carrying VELMO_HOME and VELMO_CONFIG_DIR as they are set; where no user "
       "systemd runs, the crontab line that does the same is printed."},
      {"schedule", "install", "", "writes and enables the timer"},
      {"schedule", "remove", "", "disables and removes the timer"},
      {"schedule", "status", "", "prints the time, the command line and systemd's next run"},
      {"schedule", "--at", "HH:MM", "the time of the daily run"},
      {"schedule", "--mode", "T|D", "the mode of the update (default T)"},
      {"schedule", "--kinds", "ID,...", "the data IDs of the update"},
      {"schedule", "--missing", "", "the daily run is \"update --missing\" over the week up to the day"},
      // ledger
      {"ledger", "", "",
       "The data ledger: for each race date of the range and each data ID, what the provider publishes (the kind's "
       "list file), what the data storage folder holds and what was registered (the registration record "
       "MSysVelmoLedger), as one state a cell: complete, partial, failed, missing, unpublished or unknown. A table of "
       "dates and data IDs, one mark a cell, and a summary."},
      {"ledger", "--from", "yyyymmdd", "first date of the range (default today; alone: one day)"},
      {"ledger", "--to", "yyyymmdd", "last date of the range"},
      {"ledger", "--mode", "T|D", "this week's (default) or the past database and the mode's usual kinds"},
      {"ledger", "--kinds", "ID,...", "the data IDs instead of the mode's usual set"},
      {"ledger", "--json", "", "one JSON object a cell, then a summary line"},
      {"ledger", "--offline", "", "uses the list files kept in dwn/lists/ by the last fetch instead of fetching them"},
      {"ledger", "exit 1", "", "a cell is missing, failed or partial, or a list could not be fetched"},
      // mirror
      {"mirror", "", "",
       "The PostgreSQL mirror of the three databases (setting Mirror): one schema per file, every table but the "
       "engine's own, kept current after every command that commits rows."},
      {"mirror", "sync", "", "brings the server to the rows of the three files, in one PostgreSQL transaction"},
      {"mirror", "status", "", "the time of the last good sync, the changes still waiting and the last error"},
      {"mirror", "verify", "", "compares every table's row count and row checksum; exit 1 when any differs (the tables are named)"},
      {"mirror", "--full", "", "compares every table by key instead of following the recorded changes"},
      {"mirror", "--json", "", "prints JSON"},
      // backup
      {"backup", "", "",
       "The copies taken before a command deleted or rewrote data. A restore takes the database folder's writer "
       "lock, refuses a copy that fails the integrity check, copies the current file first and replaces the "
       "database's contents in one transaction."},
      {"backup", "list", "", "prints name, database, command, time and bytes of each copy, tab-separated"},
      {"backup", "restore", "", "restores the copy NAME over its database"},
      {"backup", "--db", "PATH", "the database of a copy taken of a file outside the database folder"},
      {"backup", "--yes", "", kYes},
  };
  return rows;
}

const std::vector<SettingEntry>& SettingEntries() {
  static const std::vector<SettingEntry> rows = {
      {"LzhDir", "", "data storage folder: archives are kept there after registration"},
      {"DBDir", "", "database folder holding kova_this.mdb, kova_data.mdb and kova_code.mdb"},
      {"UserID", "", "member ID"},
      {"Passwd", "", "member password, stored scrambled (\"#\" and digits)"},
      {"VANDir", "", "folder of JRA-VAN data files"},
      {"VAN", "0", "1 switches the JRA-VAN features on"},
      {"KovaHost", "http://www.kova.example/", "the provider's web host; every catalogue address is moved onto it"},
      {"StallTimeout", "60", "seconds without a byte after which a fetch fails"},
      {"UnpackEntryLimitMB", "512", "largest archive entry unpacked, in MB"},
      {"WriterWaitSeconds", "600", "how long a second writer to the same database folder waits for the first"},
      {"BackupDir", "DBDir + backup/", "folder of the copies taken before a command deletes or rewrites data"},
      {"BackupGenerations", "3", "copies kept per database (and each command's newest besides); 0 switches the copies off"},
      {"FetchMinRateKB", "4", "slowest average rate of a fetch in KB/s: a file may take twice StallTimeout plus its size over this rate"},
      {"ListFileLimitMB", "16", "largest list or check file fetched or read, in MB"},
      {"Mirror", "", "libpq connection string or URI of the PostgreSQL mirror; empty: no mirror"},
      {"MirrorTimeoutSeconds", "5", "longest wait for the mirror server after a command; a miss is caught up by the next sync"},
  };
  return rows;
}

const std::vector<EnvironmentEntry>& EnvironmentEntries() {
  static const std::vector<EnvironmentEntry> rows = {
      {"VELMO_HOME", "the program folder (a writable one: every file the program writes stays in it)"},
      {"VELMO_CONFIG_DIR", "the settings folder (default $XDG_CONFIG_HOME/Velmo)"},
      {"XDG_CONFIG_HOME", "base of the settings folder (default ~/.config)"},
      {"XDG_STATE_HOME", "base of the log and the topic counter where the program folder cannot be written (default ~/.local/state)"},
      {"XDG_CACHE_HOME", "base of tmp/ and dwn/ where the program folder cannot be written (default ~/.cache)"},
      {"XDG_DATA_HOME", "base of the data check report and of the initial setup's databases (default ~/.local/share)"},
      {"VELMO_SYSTEMCTL", "the systemctl program of \"schedule\" (\"none\": never call one)"},
      {"QT_QPA_PLATFORM", "Qt's platform of velmo; \"offscreen\" is taken when there is no display"},
  };
  return rows;
}

const std::vector<FileEntry>& FileEntries() {
  static const std::vector<FileEntry> rows = {
      {"kova.ini", "settings folder", "settings folder", "the settings (section [main]), readable by its owner only"},
      {"Velmo.conf", "settings folder", "settings folder", "window positions and sizes of the screens"},
      {"VelmoLog.dat", "program folder", "$XDG_STATE_HOME/Velmo/", "the log: time, error number, description, place; at most 3000 entries"},
      {"topics.next", "(header of topics.txt)", "$XDG_STATE_HOME/Velmo/", "the busy window's topic counter"},
      {"update.log", "program folder", "$XDG_STATE_HOME/Velmo/", "output of the crontab line of \"schedule\""},
      {"tmp/", "program folder", "$XDG_CACHE_HOME/Velmo/", "unpack work folder, one folder per run"},
      {"dwn/", "program folder", "$XDG_CACHE_HOME/Velmo/", "download folder; dwn/failed/ keeps archives that did not register"},
      {"datacheckD_Result.txt", "program folder", "$XDG_DATA_HOME/Velmo/", "the data check report (Shift_JIS)"},
      {"kova_this.mdb, kova_data.mdb, kova_code.mdb", "DBDir", "DBDir",
       "the databases; the initial setup proposes the program folder, or $XDG_DATA_HOME/Velmo/ when it cannot be written"},
      {"velmo-writer.lock", "DBDir", "DBDir", "the database folder's writer lock"},
      {"backup/", "BackupDir", "BackupDir", "copies taken before a command deletes or rewrites data"},
      {"initDB/", "program folder", "/usr/share/velmo/", "the initial databases (read only)"},
      {"teigi_*.txt, sdata_*.txt, topics.txt, pic/, icons/, Velmo.html, help/", "program folder", "/usr/share/velmo/",
       "definition and catalogue files, busy-window topics, pictures and help (read only)"},
  };
  return rows;
}

const std::vector<ExitEntry>& ExitEntries() {
  static const std::vector<ExitEntry> rows = {
      {"velmo", 0, "the archive was fetched and registered, or filed when word 2 is 1; also a cancel by \"END\" from the parent"},
      {"velmo", 1, "failed: the fetch, the unpacking, the registration, the settings or the words"},
      {"velmo", 2, "not a silent call: not three words, or word 3 not eight characters"},
      {"velmo", 3, "the provider has no such archive (404)"},
      {"velmo", 4, "cancelled on the screen, or while waiting for the database folder"},
      {"velmo-cli", 0, "success"},
      {"velmo-cli", 1, "failure (a line on standard error, the details in VelmoLog.dat)"},
      {"velmo-cli", 2, "usage error"},
  };
  return rows;
}

}  // namespace velmo::cli
