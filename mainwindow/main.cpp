// Start-up: reads the command line, installs the real prompts and shows the main window
// on the file or address named there.
#include "QtPrompts.h"
#include "ValidateCommand.h"
#include "frmMain.h"

#include <QApplication>
#include <QCommandLineParser>

#include <memory>

namespace {

void describe(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral("Treelark: view and edit XML documents as a tree."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("document"), QStringLiteral("An XML file or an http:// address."),
                                 QStringLiteral("[document]"));
    parser.addOption(QCommandLineOption(QStringLiteral("large"),
                                        QStringLiteral("Open files read-only in large document form, from an index "
                                                       "of their elements, whatever their size.")));
    treelark::describeValidateOptions(parser);
}

void nameTheProgram()
{
    QCoreApplication::setApplicationName(QStringLiteral("Quenmoor"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TREELARK_VERSION));
    // No display name: the toolkit would append it to every window title, and the
    // titles are the program's own.
}

} // namespace

int main(int argc, char** argv)
{
    // --help, --version and --validate answer without a display (over ssh, in scripts):
    // the command line is read before anything graphical is made.
    {
        QCoreApplication console(argc, argv);
        nameTheProgram();
        QCommandLineParser parser;
        describe(parser);
        parser.process(console); // prints and exits for --help, --version and unknown options
        if (const std::optional<int> code = treelark::runValidateCommand(parser))
            return *code;
    }

    QApplication app(argc, argv);
    nameTheProgram();
    QCommandLineParser parser;
    describe(parser);
    parser.process(app);

    auto prompts = std::make_shared<treelark::QtPrompts>();
    treelark::setPrompts(prompts);
    treelark::frmMain window(parser.positionalArguments().join(QLatin1Char(' ')), nullptr,
                             treelark::frmMain::StartLoad::WhenShown);
    window.setAlwaysLargeForm(parser.isSet(QStringLiteral("large")));
    prompts->setFallbackParent(&window);
    window.show();
    return app.exec();
}
