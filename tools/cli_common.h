// Shared pieces of the ravelo command line: exit codes, argument parsing
// helpers and the text conversion for the terminal.
#pragma once

#include <cstdint>
#include <string>

namespace ravelo::cli {

// Exit codes of every command.
inline constexpr int kExitOk = 0;       // done; nothing failed
inline constexpr int kExitFailed = 1;   // a file failed (convert) or has problems (info)
inline constexpr int kExitUsage = 2;    // bad command line
inline constexpr int kExitSetup = 3;    // the run could not start (folders, batch)

int RunConvert(int argc, char** argv);  // argv[0] is the command name
int RunInfo(int argc, char** argv);
int RunSample(int argc, char** argv);
int RunExport(int argc, char** argv);

// Prints "ravelo CMD: TEXT" and a hint to the command's help on stderr;
// returns kExitUsage.
int UsageError(const char* command, const std::string& text);

bool IsHelpOption(const char* arg);

// A whole decimal integer within [min, max].
bool ParseInt(const char* text, int64_t min, int64_t max, int64_t* out);

// An option's value: "--name VALUE" or "--name=VALUE". On a match advances
// *index past what was used and stores the value; *missing is set when the
// option stands last without its value.
bool TakeValue(int argc, char** argv, int* index, const char* name, std::string* value,
               bool* missing);

// Converts code page 932 bytes into the encoding of the user's locale
// (LC_ALL / LC_CTYPE / LANG). The program's own locale stays "C": the library
// is never run under another locale. Returns false when the bytes cannot be
// shown exactly (invalid bytes, or characters the terminal's encoding lacks).
bool Cp932ToTerminal(const std::string& cp932, std::string* out);

// The text for the terminal, or the bytes with every byte outside printable
// ASCII written as \xNN when they cannot be converted.
std::string Cp932ForTerminalOrEscaped(const std::string& cp932);

// "code N: message": for a Japanese user the library's message for a result
// code, converted for the terminal; otherwise, or where the terminal cannot
// show it, an English description.
std::string ResultText(int32_t code);

// English description of result codes 2..26 (empty for others).
const char* ResultDescription(int32_t code);

}  // namespace ravelo::cli
