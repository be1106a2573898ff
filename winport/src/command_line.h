// The native programs' command line: the options they take, --help, --version, and a refusal of
// anything else before any display is opened.
#ifndef WINPORT_COMMAND_LINE_H
#define WINPORT_COMMAND_LINE_H

namespace winport::detail {

// Answers --help and --version on standard output and refuses anything the programs do not take on
// standard error: true, with the exit code in *code, when the program ends there. -root and
// -window-id ID, with one dash or two, are left to the presenters.
bool AnswerCommandLine(int argc, char **argv, const char *name, int *code);

}  // namespace winport::detail

#endif
