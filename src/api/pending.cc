// Temporary: weak definitions of the operations that are still being built,
// so that every part links on its own. Each is overridden by the real one.
// This file goes away once the whole engine is in.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "api/converter.h"

namespace ravelo {
namespace {
[[noreturn]] void Pending(const char* what) {
  std::fprintf(stderr, "ravelo: %s is not built yet\n", what);
  std::abort();
}
}  // namespace

[[gnu::weak]] Converter::Converter() {
  std::memset(static_cast<void*>(this), 0, sizeof(*this));
  idNumber = 1;
  loggerFileHandle = csvReadHandle = outputHandle = platform::kNoFile;
}
[[gnu::weak]] Converter::~Converter() {}
[[gnu::weak]] void Converter::Init(const char*, int32_t, int32_t) { Pending("Init"); }
[[gnu::weak]] void Converter::DayCntlTypeSet(int32_t) { Pending("DayCntlTypeSet"); }
[[gnu::weak]] ResultCode Converter::Proc(const char*, const char*, int32_t, int32_t, int32_t) { Pending("Proc"); }
[[gnu::weak]] ResultCode Converter::INIFileDelete() { return kOk; }
[[gnu::weak]] ResultCode Converter::JobSetup(const char*, const char*, int32_t, int32_t, int32_t) { Pending("JobSetup"); }
[[gnu::weak]] ResultCode Converter::InputFileNameCheck() { Pending("InputFileNameCheck"); }
[[gnu::weak]] ResultCode Converter::RunConversion(const char*, const char*, int32_t, int32_t, int32_t) { Pending("RunConversion"); }
[[gnu::weak]] void Converter::ResetLoggerFile() {}
[[gnu::weak]] ResultCode Converter::OpenLoggerFile() { Pending("OpenLoggerFile"); }
[[gnu::weak]] ResultCode Converter::ReadLoggerHeader() { Pending("ReadLoggerHeader"); }
[[gnu::weak]] ResultCode Converter::ReadLoggerRecord(LoggerRecord*) { Pending("ReadLoggerRecord"); }
[[gnu::weak]] void Converter::CloseLoggerFile() {}
[[gnu::weak]] void Converter::DecodeLoggerRecord(const uint8_t*, LoggerRecord*) const { Pending("DecodeLoggerRecord"); }
[[gnu::weak]] int32_t Converter::ShiftMidnightToPreviousDay(LoggerTimestamp*) { Pending("ShiftMidnightToPreviousDay"); }
[[gnu::weak]] void Converter::BuildHeaderLine(RowBuffer*) { Pending("BuildHeaderLine"); }
[[gnu::weak]] void Converter::BuildUnitLine(RowBuffer*) { Pending("BuildUnitLine"); }
[[gnu::weak]] void Converter::BuildDataLine(RowBuffer*) { Pending("BuildDataLine"); }
[[gnu::weak]] ResultCode Converter::OutputRow() { Pending("OutputRow"); }
[[gnu::weak]] ResultCode Converter::FinishOutputFile() { Pending("FinishOutputFile"); }
[[gnu::weak]] void Converter::MakeFileBaseName(RowBuffer*) const { Pending("MakeFileBaseName"); }
[[gnu::weak]] void Converter::ParseLineTimestamp(const char*, LoggerTimestamp*) { Pending("ParseLineTimestamp"); }
[[gnu::weak]] void Converter::MakeCsvPath(const char*, char*) const { Pending("MakeCsvPath"); }
[[gnu::weak]] int32_t Converter::CsvFileExists(const char*) const { Pending("CsvFileExists"); }
[[gnu::weak]] ResultCode Converter::OpenCsvReader(const char*) { Pending("OpenCsvReader"); }
[[gnu::weak]] ResultCode Converter::ReadCsvLine(char*) { Pending("ReadCsvLine"); }
[[gnu::weak]] void Converter::CloseCsvReader() {}
[[gnu::weak]] ResultCode Converter::CreateOutputFile(const char*) { Pending("CreateOutputFile"); }
[[gnu::weak]] ResultCode Converter::WriteOutputText(const char*) { Pending("WriteOutputText"); }
[[gnu::weak]] ResultCode Converter::CloseOutputFile() { return kOk; }
[[gnu::weak]] ResultCode Converter::CommitOutputFile() { Pending("CommitOutputFile"); }
[[gnu::weak]] ResultCode Converter::DeleteFileIfExists(const char*) { Pending("DeleteFileIfExists"); }
[[gnu::weak]] ResultCode Converter::RenameFileIfExists(const char*, const char*) { Pending("RenameFileIfExists"); }
[[gnu::weak]] void Converter::ResetCsvReader() {}
[[gnu::weak]] void Converter::ResetOutputFile() {}
[[gnu::weak]] int32_t Converter::INIFileEntryAdd(const char*, const LoggerTimestamp&) { Pending("INIFileEntryAdd"); }
[[gnu::weak]] int32_t Converter::INIFileEntryFind(const char*, const char*) { Pending("INIFileEntryFind"); }

namespace platform {
[[gnu::weak]] FileHandle FileOpenRead(const char*) { Pending("FileOpenRead"); }
[[gnu::weak]] FileHandle FileCreate(const char*) { Pending("FileCreate"); }
[[gnu::weak]] bool FileRead(FileHandle, void*, uint32_t, uint32_t*) { Pending("FileRead"); }
[[gnu::weak]] bool FileWrite(FileHandle, const void*, uint32_t, uint32_t*) { Pending("FileWrite"); }
[[gnu::weak]] bool FileSeek(FileHandle, uint32_t) { Pending("FileSeek"); }
[[gnu::weak]] bool FileFlush(FileHandle) { Pending("FileFlush"); }
[[gnu::weak]] void FileClose(FileHandle) { Pending("FileClose"); }
[[gnu::weak]] PathKind PathKindOf(const char*) { Pending("PathKindOf"); }
[[gnu::weak]] bool FolderCreate(const char*) { Pending("FolderCreate"); }
[[gnu::weak]] bool FileRemove(const char*) { Pending("FileRemove"); }
[[gnu::weak]] bool FileRenameNoReplace(const char*, const char*) { Pending("FileRenameNoReplace"); }
[[gnu::weak]] bool FileRenameReplace(const char*, const char*) { Pending("FileRenameReplace"); }
[[gnu::weak]] bool FolderFlushOf(const char*) { Pending("FolderFlushOf"); }
[[gnu::weak]] void SleepMilliseconds(uint32_t) { Pending("SleepMilliseconds"); }
[[gnu::weak]] bool IsLeadByte(unsigned char) { Pending("IsLeadByte"); }
[[gnu::weak]] int32_t ProfileGetInt(const char*, const char*, int32_t, const char*) { Pending("ProfileGetInt"); }
[[gnu::weak]] uint32_t ProfileGetString(const char*, const char*, const char*, char*, uint32_t, const char*) { Pending("ProfileGetString"); }
[[gnu::weak]] bool ProfileWriteString(const char*, const char*, const char*, const char*) { Pending("ProfileWriteString"); }
}  // namespace platform

}  // namespace ravelo
