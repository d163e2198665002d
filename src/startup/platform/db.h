// The database engine layer. Databases are SQLite files (kova_this.mdb …) attached
// to one connection, so that a workspace transaction spans every open database.
// The rest of the program reaches SQLite only through this layer.
//
// One class per file:
//   value.h        field values, field/index/table definitions
//   errortable.h   the engine's error numbers and descriptions
//   stmt.h         a prepared statement that finalises itself
//   workspace.h    the connection, attachments, transactions, compaction
//   transaction.h  a transaction guard that rolls back unless committed
//   database.h     one database: statements, names, table definitions
//   recordset.h    table-type recordset (seek, add, edit)
//   queryresult.h  snapshot of a query
//   textlink.h     tables linked to CSV text files
#pragma once

#include "startup/platform/database.h"
#include "startup/platform/errortable.h"
#include "startup/platform/queryresult.h"
#include "startup/platform/recordset.h"
#include "startup/platform/recordwritescope.h"
#include "startup/platform/stmt.h"
#include "startup/platform/transaction.h"
#include "startup/platform/value.h"
#include "startup/platform/workspace.h"
