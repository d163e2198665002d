// Errors travel as exceptions carrying a number and a description, like the
// engine's and runtime's errors the rest of the program tests for.
#pragma once
#include <stdexcept>
#include <string>

namespace velmo {

// Error numbers used across the program.
namespace err {
constexpr long FileNotFound = 53;          // runtime: file not found
constexpr long BadFileMode = 54;
constexpr long InvalidArgument = 5;        // runtime: invalid procedure call or argument
constexpr long PathNotFound = 76;
// Engine errors: their descriptions stand in one table, startup/platform/errortable.cpp.
constexpr long EngineGeneric = 3000;
constexpr long Locked = 3006;
constexpr long TableExists = 3010;
constexpr long ObjectNotFound = 3011;
constexpr long ObjectExists = 3012;        // engine: object already exists
constexpr long NoCurrentIndex = 3019;
constexpr long UpdateWithoutEdit = 3020;
constexpr long NoCurrentRecord = 3021;
constexpr long DuplicateKey = 3022;
constexpr long CannotFindFile = 3024;
constexpr long NoTransaction = 3034;
constexpr long FileInUse = 3045;
constexpr long CannotSave = 3046;
constexpr long CannotOpen = 3049;
constexpr long CannotLock = 3050;
constexpr long TooFewParameters = 3061;
constexpr long SelectNotExecutable = 3065;
constexpr long SyntaxError = 3075;
constexpr long NoSuchTable = 3078;
constexpr long CharactersAfterEnd = 3142;
constexpr long FieldTooSmall = 3163;
constexpr long NoIsam = 3170;
constexpr long DatabaseExists = 3204;
constexpr long NoFields = 3264;
constexpr long NoSuchField = 3265;
constexpr long PropertyNotFound = 3270;
constexpr long NotADatabase = 3343;
constexpr long DatabaseInUse = 3356;       // compaction while another process has the file open
constexpr long InvalidObject = 3420;
constexpr long ConversionError = 3421;
constexpr long NullInRequired = 3058;      // index or primary key field is Null
constexpr long NotAnIndex = 3800;
// Statements.
constexpr long NotUpdatable = 3073;
constexpr long AmbiguousField = 3079;
constexpr long UndefinedFunction = 3085;
constexpr long UnknownInsertField = 3127;
constexpr long InvalidStatement = 3129;
constexpr long SyntaxInFrom = 3131;
constexpr long SyntaxInInsert = 3134;
constexpr long SyntaxInUpdate = 3144;
constexpr long InvalidOperation = 3219;
constexpr long SyntaxInTableDef = 3290;
constexpr long ValueCountMismatch = 3346;
constexpr long TypeMismatch = 3464;
constexpr long BadRecordLength = 59;       // runtime: bad record length
constexpr long BadShiftJis = 9001;         // provider file bytes that are not Shift_JIS
constexpr long UnsafeArchive = 9002;       // archive entry that would land outside the work folder
constexpr long TooManyFiles = 9;           // runtime: subscript out of range (file list overflow)
constexpr long Cancelled = 9003;           // a wait or a run ended by the user or the parent program
constexpr long UnpackFailed = 9004;        // an archive that cannot be unpacked whole
constexpr long MirrorFailed = 9005;        // the server copy (setting Mirror) could not be brought up to date
}  // namespace err

class VelmoError : public std::runtime_error {
 public:
  VelmoError(long number, std::string description, std::string source = {})
      : std::runtime_error(description), number_(number), description_(std::move(description)),
        source_(std::move(source)) {}
  long number() const { return number_; }
  const std::string& description() const { return description_; }
  const std::string& source() const { return source_; }

 private:
  long number_;
  std::string description_;
  std::string source_;
};

// The "current error object" handed to the log: a number and a description.
struct ErrObject {
  long number = 0;
  std::string description;
  std::string source;
  ErrObject() = default;
  ErrObject(long n, std::string d, std::string s = {}) : number(n), description(std::move(d)), source(std::move(s)) {}
  static ErrObject from(const VelmoError& e) { return {e.number(), e.description(), e.source()}; }
  static ErrObject from(const std::exception& e) {
    if (auto* v = dynamic_cast<const VelmoError*>(&e)) return from(*v);
    return {err::EngineGeneric, e.what()};
  }
};

}  // namespace velmo
