// Start-up: clears the document-changed flag, installs the real prompts and shows the
// main window on the file or address named on the command line.
#include "AppState.h"
#include "QtPrompts.h"
#include "frmMain.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quenmoor"));
    QApplication::setApplicationDisplayName(QStringLiteral("Treelark"));
    QApplication::setApplicationVersion(QStringLiteral(TREELARK_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Treelark: view and edit XML documents as a tree."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("document"), QStringLiteral("An XML file or an http:// address."));
    parser.process(app);

    auto prompts = std::make_shared<treelark::QtPrompts>();
    treelark::setPrompts(prompts);
    treelark::frmMain window(parser.positionalArguments().join(QLatin1Char(' ')), nullptr,
                             treelark::frmMain::StartLoad::WhenShown);
    prompts->setFallbackParent(&window);
    window.show();
    return app.exec();
}
