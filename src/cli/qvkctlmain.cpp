#include "cli/qvkctl.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

int terminalColumns()
{
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

} // namespace

// The command-line companion: no window, the app's task bodies.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QvkCtl::configureApplication();
    QTextStream out(stdout);
    QTextStream err(stderr);
    QvkCtl ctl(out, err);
    // Live progress lines only where someone watches them.
    const char* term = getenv("TERM");
    if (isatty(STDERR_FILENO) && !(term && strcmp(term, "dumb") == 0))
        ctl.setTerminal(terminalColumns);
    return ctl.run(QCoreApplication::arguments());
}
