#include "cli_common.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "messages.h"
#include "ravelo.h"

namespace ravelo::cli {

int UsageError(const char* command, const std::string& text) {
  std::fprintf(stderr, "ravelo %s: %s\nTry 'ravelo %s --help'.\n", command, text.c_str(), command);
  return kExitUsage;
}

bool IsHelpOption(const char* arg) {
  return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

bool ParseInt(const char* text, int64_t min, int64_t max, int64_t* out) {
  if (text == nullptr || *text == '\0') return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < min || v > max) return false;
  *out = v;
  return true;
}

bool TakeValue(int argc, char** argv, int* index, const char* name, std::string* value,
               bool* missing) {
  const char* arg = argv[*index];
  size_t n = std::strlen(name);
  if (std::strncmp(arg, name, n) != 0) return false;
  if (arg[n] == '=') {
    *value = arg + n + 1;
    return true;
  }
  if (arg[n] != '\0') return false;
  if (*index + 1 >= argc) {
    *missing = true;
    return true;
  }
  ++*index;
  *value = argv[*index];
  return true;
}

namespace {

// The encoding of the user's locale, found without changing the program's
// own locale: printf in the library must keep its "." decimal point.
std::string TerminalCodeset() {
  locale_t user = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (user == static_cast<locale_t>(nullptr)) return "ANSI_X3.4-1968";
  std::string codeset = nl_langinfo_l(CODESET, user);
  freelocale(user);
  return codeset.empty() ? std::string("ANSI_X3.4-1968") : codeset;
}

}  // namespace

bool Cp932ToTerminal(const std::string& cp932, std::string* out) {
  out->clear();
  if (cp932.empty()) return true;
  static const std::string codeset = TerminalCodeset();
  iconv_t cd = iconv_open(codeset.c_str(), "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in = cp932;
  std::string buffer(in.size() * 4 + 16, '\0');
  char* inp = in.data();
  size_t inLeft = in.size();
  char* outp = buffer.data();
  size_t outLeft = buffer.size();
  size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
  bool ok = r != static_cast<size_t>(-1) && inLeft == 0;
  if (ok) {
    // Finish any shift sequence of a stateful target encoding.
    ok = iconv(cd, nullptr, nullptr, &outp, &outLeft) != static_cast<size_t>(-1);
  }
  iconv_close(cd);
  // iconv counts a character it had to replace as irreversible; exact text only.
  if (!ok || r != 0) return false;
  out->assign(buffer.data(), buffer.size() - outLeft);
  return true;
}

std::string Cp932ForTerminalOrEscaped(const std::string& cp932) {
  std::string text;
  if (Cp932ToTerminal(cp932, &text)) return text;
  text.clear();
  for (unsigned char c : cp932) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      text += static_cast<char>(c);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      text += esc;
    }
  }
  return text;
}

const char* ResultDescription(int32_t code) {
  static const char* const kTexts[27] = {
      "no error",
      "end of an input file",
      "no logger file path was given",
      "the logger file does not exist",
      "the file does not have the .Q38 extension",
      "no destination folder path was given",
      "the destination folder does not exist",
      "the kind of CSV file is out of range",
      "the CSV file creation method is out of range",
      "the logger file cannot be opened",
      "the CSV folder below the destination folder cannot be created",
      "the Day or Month folder below the CSV folder cannot be created",
      "the logger file's id and size fields cannot be read",
      "the logger file's memo fields cannot be reached",
      "the logger file's memo fields cannot be read",
      "the start of the logger file's records cannot be reached",
      "the logger file's records cannot be read",
      "a record's channel number is out of range",
      "a record's recording mode is out of range",
      "a record's recording mode is not defined",
      "a record's value is out of range",
      "writing to a file failed",
      "a CSV file cannot be opened",
      "the temporary file cannot be opened",
      "a file cannot be deleted",
      "a file cannot be renamed",
      "a line of a CSV file cannot be read",
  };
  if (code < 0 || code > 26) return "";
  return kTexts[code];
}

std::string ResultText(int32_t code) {
  const std::string number = std::to_string(code);
  if (JapaneseWanted()) {
    char message[80];
    std::memset(message, 0, sizeof message);
    std::string shown;
    if (RaveloErrMsgGet(code, message) == 1) {
      message[sizeof message - 1] = '\0';
      if (Cp932ToTerminal(message, &shown)) return Say("code {1}: {2}", ja::kJaCode, {number, shown});
    }
  }
  const char* english = ResultDescription(code);
  return "code " + number + ": " + (*english != '\0' ? english : "unknown result");
}

}  // namespace ravelo::cli
