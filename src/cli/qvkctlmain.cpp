#include "cli/qvkctl.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

// The command-line companion: no window, the app's task bodies.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QvkCtl::configureApplication();
    QTextStream out(stdout);
    QTextStream err(stderr);
    QvkCtl ctl(out, err);
    return ctl.run(QCoreApplication::arguments());
}
