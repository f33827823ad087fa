// ravelo: converts logger files (.Q38) into day or month CSV files through the
// Ravelo library, shows what a logger file holds, and writes sample files.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "cli_common.h"

namespace {

const char kMainHelp[] =
    "Usage: ravelo COMMAND [OPTIONS] [ARGUMENTS]\n"
    "\n"
    "Converts data-logger recordings (.Q38 files) into CSV files, one per day or\n"
    "per month (code page 932 text with CR LF line ends).\n"
    "\n"
    "Commands:\n"
    "  convert FILE.Q38... --out DEST   convert logger files into CSV files below DEST\n"
    "  info [--json] FILE.Q38           show what a logger file holds and the problems\n"
    "                                   a conversion would meet; writes nothing\n"
    "  sample OUT.Q38                   write a synthetic weather-station recording\n"
    "  export SOURCE... [-o FILE]       write the rows of CSV files (or folders of\n"
    "                                   them) as one UTF-8 table for analysis\n"
    "  help [COMMAND]                   show this text or the help of a command\n"
    "  --version                        show the version of ravelo\n"
    "\n"
    "Run 'ravelo COMMAND --help' or 'ravelo help COMMAND' for the options of a\n"
    "command. Options take their value as '--opt VALUE' or '--opt=VALUE'.\n"
    "Messages are in Japanese where the language of LC_ALL, LC_MESSAGES or LANG\n"
    "(the first one set) is Japanese, otherwise in English.\n"
    "\n"
    "Exit codes:\n"
    "  0  success\n"
    "  1  a file failed to convert (convert), the file has problems (info),\n"
    "     the file cannot be written (sample), or a source cannot be read or is\n"
    "     not such a CSV file (export)\n"
    "  2  usage error: unknown, repeated or conflicting option, missing or bad\n"
    "     argument\n"
    "  3  convert could not start: the destination or work folder cannot be\n"
    "     made or written into, another run holds the destination (--no-wait),\n"
    "     or the batch cannot be begun\n"
    "  130 convert was interrupted (Ctrl-C) after the file in hand\n";

const char kHelpHelp[] =
    "Usage: ravelo help [COMMAND]\n"
    "\n"
    "Shows the overview of ravelo, or the help of COMMAND (convert, info,\n"
    "sample, help): the same text as 'ravelo COMMAND --help'.\n"
    "\n"
    "Exit codes: 0 shown, 2 unknown command.\n";

int Dispatch(const char* command, int argc, char** argv) {
  if (std::strcmp(command, "convert") == 0) return ravelo::cli::RunConvert(argc, argv);
  if (std::strcmp(command, "info") == 0) return ravelo::cli::RunInfo(argc, argv);
  if (std::strcmp(command, "sample") == 0) return ravelo::cli::RunSample(argc, argv);
  if (std::strcmp(command, "export") == 0) return ravelo::cli::RunExport(argc, argv);
  std::fprintf(stderr, "ravelo: unknown command '%s'\nTry 'ravelo --help'.\n", command);
  return ravelo::cli::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  // A file size limit makes a write fail (and the conversion report it)
  // instead of ending the process in the middle of a file.
  std::signal(SIGXFSZ, SIG_IGN);
  if (argc < 2) {
    std::fputs(kMainHelp, stderr);
    return ravelo::cli::kExitUsage;
  }
  const char* command = argv[1];
  if (std::strcmp(command, "--version") == 0) {
    std::printf("ravelo %s\n", RAVELO_VERSION);
    return ravelo::cli::kExitOk;
  }
  if (ravelo::cli::IsHelpOption(command)) {
    std::fputs(kMainHelp, stdout);
    return ravelo::cli::kExitOk;
  }
  if (std::strcmp(command, "help") == 0) {
    if (argc < 3) {
      std::fputs(kMainHelp, stdout);
      return ravelo::cli::kExitOk;
    }
    const char* topic = argv[2];
    if (argc > 3) return ravelo::cli::UsageError("help", "only one command can be given");
    if (ravelo::cli::IsHelpOption(topic) || std::strcmp(topic, "help") == 0) {
      std::fputs(kHelpHelp, stdout);
      return ravelo::cli::kExitOk;
    }
    char help[] = "--help";
    char* helpArgv[] = {argv[2], help, nullptr};
    return Dispatch(topic, 2, helpArgv);
  }
  return Dispatch(command, argc - 1, argv + 1);
}
