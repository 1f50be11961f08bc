// Loads each XML file named on the command line (validation off), saves it unchanged,
// loads what was saved and compares what the two trees mean (every element and attribute
// by expanded name, values, text). Prints one line per file that fails and the counts.
// With --write DIR it also writes, for the n-th file loaded, DIR/n.saved (saved unchanged)
// and DIR/n.edited (saved after one attribute was added to the document element), and
// lists "n<TAB>path" in DIR/index, for run_faithful.sh to compare with the originals.
//
//   roundtrip [--write DIR] FILE...      (or file names on standard input, one per line)
#include "treelark/dom.h"
#include "../tests/shared/dom_meaning.h"

#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <iostream>
#include <string>

using namespace treelark;

int main(int argc, char** argv)
{
    QStringList files;
    QString writeDir;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--write" && i + 1 < argc)
            writeDir = QString::fromLocal8Bit(argv[++i]);
        else
            files << QString::fromLocal8Bit(argv[i]);
    }
    QFile index(writeDir + QStringLiteral("/index"));
    if (!writeDir.isEmpty() && !index.open(QIODevice::WriteOnly))
        return 2;
    if (files.isEmpty())
        for (std::string line; std::getline(std::cin, line);)
            files << QString::fromLocal8Bit(line.c_str());
    int loaded = 0, same = 0, failed = 0, notXml = 0;
    for (const QString& path : files) {
        DOMDocumentPtr doc = DOMDocument::create();
        doc->setValidateOnParse(false);
        if (!doc->load(path)) {
            ++notXml;
            continue;
        }
        ++loaded;
        DOMDocumentPtr again = DOMDocument::create();
        again->setValidateOnParse(false);
        QByteArray saved;
        try {
            saved = doc->saveToBytes();
        } catch (const DOMException& e) {
            std::printf("NOSAVE %s: %s\n", qPrintable(path), qPrintable(e.description()));
            ++failed;
            continue;
        }
        if (!again->loadXML(saved)) {
            std::printf("NORELOAD %s: %s\n", qPrintable(path), qPrintable(again->parseError().reason));
            ++failed;
        } else if (testsupport::meaningOf(doc->asNode()) != testsupport::meaningOf(again->asNode())) {
            std::printf("CHANGED %s\n", qPrintable(path));
            ++failed;
        } else {
            ++same;
        }
        if (!writeDir.isEmpty()) {
            const QString base = writeDir + QLatin1Char('/') + QString::number(loaded);
            index.write(QByteArray::number(loaded) + '\t' + path.toLocal8Bit() + '\n');
            doc->save(base + QStringLiteral(".saved"));
            doc->documentElement().setAttribute(QStringLiteral("treelark-edit"), QStringLiteral("1"));
            doc->save(base + QStringLiteral(".edited"));
        }
    }
    std::printf("files %lld, not loaded %d, loaded %d, reloaded with the same meaning %d, failed %d\n",
                static_cast<long long>(files.size()), notXml, loaded, same, failed);
    return failed ? 1 : 0;
}
