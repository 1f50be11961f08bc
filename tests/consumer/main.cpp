// A separate program using the installed document core.
#include <treelark/ApXmlMgr.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    treelark::ApXmlMgr mgr;
    QString name = QString::fromLocal8Bit(argv[1]);
    mgr.LoadXml(name, false);
    if (mgr.DOMDoc()->parseError().errorCode != 0)
        return 1;
    std::printf("nodes=%lld\n", static_cast<long long>(mgr.TotalNodes()));
    return 0;
}
