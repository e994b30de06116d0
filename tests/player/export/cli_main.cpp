// The export command alone, so its tests run whatever state the window
// code is in; the program's own entry hands over to the same function.
#include "player/export/ExportMain.h"

int main(int argc, char** argv) {
    return exporter::ExportMain(argc, argv);
}
