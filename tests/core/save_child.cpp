// Helper for the safe-save tests: loads a document, edits it, writes one byte to stdout the
// moment saving starts, then saves it over the target. The test kills it while it saves.
//   save_child SOURCE TARGET
// Exit codes: 0 saved, 64 bad arguments, 65 the source did not load, 66 the save failed.
#include "treelark/ApXmlMgr.h"

#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 64;
    treelark::ApXmlMgr mgr;
    mgr.LoadXml(QString::fromLocal8Bit(argv[1]), false);
    if (mgr.DOMDoc()->parseError().errorCode != 0)
        return 65;
    // An edit first, so the tree is written out (an unedited document is a plain copy).
    mgr.DOMDoc()->documentElement().setAttribute(QStringLiteral("saved"), QStringLiteral("1"));
    if (::write(STDOUT_FILENO, "S", 1) != 1)
        return 64;
    mgr.Save(QString::fromLocal8Bit(argv[2]));
    return mgr.lastError().isEmpty() ? 0 : 66;
}
