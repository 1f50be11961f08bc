#include "treelark/ApXmlMgr.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::printf("usage: quenmoor FILE\n");
        return 0;
    }
    treelark::ApXmlMgr mgr;
    QString name = args.at(1);
    mgr.LoadXml(name, true);
    const auto& err = mgr.DOMDoc()->parseError();
    if (err.errorCode) {
        std::printf("%s: line %lld, column %lld: %s\n", qPrintable(name), err.line, err.linepos, qPrintable(err.reason));
        return 1;
    }
    std::printf("%s: TotalNodes=%lld\n", qPrintable(name), static_cast<long long>(mgr.TotalNodes()));
    return 0;
}
