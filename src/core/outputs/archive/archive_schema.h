#pragma once
// The archive's tables: their creation, the check of an existing file, and the
// statements that fill them. Shared by the writer and the reader.

#include <string>
#include <string_view>

#include "telemetry/telemetry_decoder.h"

struct sqlite3;

namespace zevrin {

/// Within a transaction: creates the tables in an empty file and sets its schema
/// version, or checks that an existing file is an archive this program can
/// write and brings an older one to the current version. Returns false with
/// `error` set otherwise.
bool PrepareSchema(sqlite3* db, std::string& error);

/// True when `db` is empty or an archive this program can write; reads only.
bool IsEmptyOrArchive(sqlite3* db, std::string& error);

/// Checks that `db` is an archive of a version this program can read.
bool CheckSchemaVersion(sqlite3* db, std::string& error);

/// INSERT of `rows` rows into the table that stores the record's rows, each row: frame_id,
/// received_ms, then every column of the record in the order of ArchiveColumns().
std::string RecordInsertSql(RecordKind record, int rows = 1);
/// INSERT of `rows` rows into the table that stores the frames, each row: id, received_ms, station,
/// link, bytes, time_source.
std::string FrameInsertSql(int rows = 1);

/// An SQL expression for a time in milliseconds since 1970 held in `ms_column`, as
/// the views show it: "2026-12-06 13:12:00.123" (UTC).
std::string UtcTextSql(std::string_view ms_column);

}  // namespace zevrin
