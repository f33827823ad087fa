#include "messages.h"

#include <cstdlib>
#include <cstring>

#include "cli_common.h"

namespace ravelo::cli {

bool JapaneseWanted() {
  static const bool wanted = [] {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
      const char* value = std::getenv(name);
      if (value == nullptr || *value == '\0') continue;
      // "ja", "ja_JP", "ja_JP.UTF-8", "ja_JP.eucJP@...": the language part.
      return std::strncmp(value, "ja", 2) == 0 &&
             (value[2] == '\0' || value[2] == '_' || value[2] == '.' || value[2] == '@');
    }
    return false;
  }();
  return wanted;
}

std::string Say(const char* english, const char* japaneseCp932,
                std::initializer_list<std::string> args) {
  std::string text;
  if (!(JapaneseWanted() && japaneseCp932 != nullptr && Cp932ToTerminal(japaneseCp932, &text))) {
    text = english;
  }
  std::string out;
  out.reserve(text.size() + 64);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '{' && i + 2 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9' &&
        text[i + 2] == '}') {
      size_t n = static_cast<size_t>(text[i + 1] - '1');
      if (n < args.size()) out += *(args.begin() + n);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace ravelo::cli
