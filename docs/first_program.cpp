// A first program with the Treelark document core: open a document, add an element
// along a path, look at what is there, and save it under a new name.
//
//   with CMake:      find_package(Treelark 0.2 REQUIRED)
//                    target_link_libraries(first_program PRIVATE Treelark::Core)
//   with pkg-config: c++ -std=c++20 first_program.cpp $(pkg-config --cflags --libs treelark-core)
//
//   ./first_program config.xml copy.xml
#include <treelark/ApXmlMgr.h>
#include <treelark/dCollection.h>

#include <cstdio>

using namespace treelark;

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: first_program IN.xml OUT.xml\n");
        return 2;
    }
    ApXmlMgr manager;

    // Loading shows no window and throws nothing: the reason is in lastError().
    manager.LoadXml(QString::fromLocal8Bit(argv[1]), false);
    if (manager.DOMDoc()->parseError().errorCode != 0) {
        std::fprintf(stderr, "cannot read %s: %s\n", argv[1], qPrintable(manager.lastError()));
        return 1;
    }

    // Missing elements along the path are made on the way; only the last one gets the
    // attributes. A name XML cannot hold is refused with a DOMException.
    dCollection attributes;
    attributes.Add(QStringLiteral("Roads"), QStringLiteral("Name"));
    attributes.Add(QStringLiteral("1"), QStringLiteral("Visible"));
    const QString root = manager.DOMDoc()->documentElement().nodeName();
    DOMNode layer;
    try {
        layer = manager.InsertNodeWithFullPath(root + QStringLiteral("/ApLayers/ApLayer"), &attributes);
    } catch (const DOMException&) {
    }
    if (layer.isNull()) {
        std::fprintf(stderr, "cannot insert: %s\n", qPrintable(manager.lastError()));
        return 1;
    }

    std::printf("inserted %s\n", qPrintable(manager.GetFullPath(layer)));
    std::printf("name=%s\n", qPrintable(manager.GetAttributeValue(layer, QStringLiteral("Name"))));
    std::printf("nodes=%lld\n", static_cast<long long>(manager.TotalNodes()));

    manager.Save(QString::fromLocal8Bit(argv[2]));
    if (!manager.lastError().isEmpty()) {
        std::fprintf(stderr, "cannot save %s: %s\n", argv[2], qPrintable(manager.lastError()));
        return 1;
    }
    return 0;
}
