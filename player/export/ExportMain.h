// The program's export command: zarnplayer --export OUT [--rate R]
// [--skip-silence] [--smooth|--plain] [--force] IN [IN...]. Runs without a window and
// without the single-instance hand-off; progress goes to stdout, one line
// per failure to stderr.
#pragma once

namespace exporter {

// True when an argument before any "--" is --export.
bool IsExportCommand(int argc, char** argv);

// Exit status: 0 every input exported, 1 some failed, 2 the command line is
// wrong or the export cannot start, 130 interrupted.
int ExportMain(int argc, char** argv);

} // namespace exporter
