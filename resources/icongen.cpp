// Writes the program's icon into <folder>/<size>x<size>/apps/tavinor.png for every size given: the menu
// entry's and the autostart entry's icon, painted at build time by the code that paints it in the program.
#include "ui/SysTrayUtil.h"

#include <QDir>
#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fputs("usage: icongen FOLDER SIZE...\n", stderr);
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        if (size <= 0 || !QDir().mkpath(dir) ||
            !SysTrayUtil::ProgramImage(size).save(dir + QStringLiteral("/tavinor.png"))) {
            std::fprintf(stderr, "icongen: cannot write the %s pixel icon\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
