// The program's start, as its own main() does it, with the paint probe as application object:
// started in an empty folder it creates the settings file, reads it, shows the main window and
// ends at the first paint. Run by bench_startup.
#include "app/program.h"
#include "startup_probe.h"

int main(int argc, char* argv[]) {
    vmx::bench::PaintProbe app(argc, argv);
    return vmx::runProgram();
}
