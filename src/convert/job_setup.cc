// Job set-up: the arguments of a job checked in their fixed order, the name
// stem of the CSV files, and the output folders.
#include <cstring>

#include "api/converter.h"

namespace ravelo {
namespace {

const char kCsvFolderName[] = "\\CSV";
const char kSubfolderNames[2][16] = {"\\Day", "\\Month"};
const char kLoggerExtension[] = ".Q38";
constexpr uint32_t kScratchSize = 256;  // base name and extension, with the zero

// Copies text into a field of size bytes; false when it does not fit.
bool CopyIfFits(char* field, size_t size, const char* text) {
  size_t length = std::strlen(text);
  if (length >= size) return false;
  std::memcpy(field, text, length + 1);
  return true;
}

// Appends text to the zero-terminated field of size bytes; false (and the
// field unchanged) when it does not fit.
bool AppendIfFits(char* field, size_t size, const char* text) {
  size_t used = std::strlen(field);
  size_t length = std::strlen(text);
  if (used + length >= size) return false;
  std::memcpy(field + used, text, length + 1);
  return true;
}

bool IsFolder(const char* path) {
  return platform::PathKindOf(path) == platform::PathKind::kFolder;
}

// Makes path a folder unless it is one already. A creation that fails
// because another run made the folder in the meantime has what it wanted.
bool EnsureFolder(const char* path) {
  return IsFolder(path) || platform::FolderCreate(path) || IsFolder(path);
}

}  // namespace

ResultCode Converter::JobSetup(const char* inputPath, const char* destPath, int32_t csvKind,
                               int32_t makeMethod, int32_t direct) {
  if (inputPath == nullptr) return kNoInputPath;
  // A path longer than its field names no file this job could open.
  if (strnlen(inputPath, kPathSize) >= kPathSize ||
      platform::PathKindOf(inputPath) == platform::PathKind::kNone) {
    return kInputMissing;
  }
  if (destPath == nullptr) return kNoDestPath;
  if (strnlen(destPath, kPathSize) >= kPathSize || !IsFolder(destPath)) return kDestMissing;
  if (csvKind < 0 || csvKind > 1) return kBadCsvKind;
  csvFileKind = csvKind;
  if (makeMethod < 0 || makeMethod > 1) return kBadMakeMethod;
  csvMakeMethod = makeMethod;
  directOutput = direct;
  CopyIfFits(inputFilePath, sizeof inputFilePath, inputPath);  // fits: checked above
  ResultCode result = InputFileNameCheck();
  if (result != kOk) return result;
  CopyIfFits(destFolder, sizeof destFolder, destPath);
  CopyIfFits(csvFolder, sizeof csvFolder, destFolder);

  if (directOutput != 0) {
    CopyIfFits(outputFolder, sizeof outputFolder, csvFolder);
    return kOk;
  }
  if (!AppendIfFits(csvFolder, sizeof csvFolder, kCsvFolderName) || !EnsureFolder(csvFolder)) {
    return kCsvFolderFailed;
  }
  CopyIfFits(outputFolder, sizeof outputFolder, csvFolder);
  if (!AppendIfFits(outputFolder, sizeof outputFolder, kSubfolderNames[csvFileKind]) ||
      !EnsureFolder(outputFolder)) {
    return kSubfolderFailed;
  }
  return kOk;
}

ResultCode Converter::InputFileNameCheck() {
  // Split the path: an optional drive "X:", then the last component after
  // the last "\" or "/". The scan steps over double-byte characters, whose
  // second byte may look like a separator or a ".".
  const char* path = inputFilePath;
  size_t start = (path[0] != '\0' && path[1] == ':') ? 2 : 0;
  size_t componentStart = start;
  size_t lastDot = static_cast<size_t>(-1);
  size_t length = std::strlen(path);
  for (size_t i = start; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (platform::IsLeadByte(c) && i + 1 < length) {
      ++i;
      continue;
    }
    if (c == '\\' || c == '/') {
      componentStart = i + 1;
      lastDot = static_cast<size_t>(-1);
    } else if (c == '.') {
      lastDot = i;
    }
  }
  size_t baseEnd = lastDot == static_cast<size_t>(-1) ? length : lastDot;
  size_t baseLength = baseEnd - componentStart;
  size_t extensionLength = length - baseEnd;
  // Names too long for the scratch buffers cannot be logger file names.
  if (baseLength >= kScratchSize || extensionLength >= kScratchSize) return kBadExtension;

  char extension[kScratchSize];
  std::memcpy(extension, path + baseEnd, extensionLength);
  extension[extensionLength] = '\0';
  for (size_t i = 0; i < extensionLength; ++i) {
    if (extension[i] >= 'a' && extension[i] <= 'z') extension[i] = static_cast<char>(extension[i] - 'a' + 'A');
  }
  if (std::strcmp(extension, kLoggerExtension) != 0) return kBadExtension;

  size_t stemLength = baseLength;
  if (directOutput == 0) {
    const void* underscore = std::memchr(path + componentStart, '_', baseLength);
    if (underscore != nullptr) {
      stemLength = static_cast<size_t>(static_cast<const char*>(underscore) - (path + componentStart)) + 1;
    }
  }
  std::memcpy(nameStem, path + componentStart, stemLength);
  nameStem[stemLength] = '\0';
  return kOk;
}

}  // namespace ravelo
