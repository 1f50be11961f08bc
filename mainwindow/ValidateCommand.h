// The command line's validation: quenmoor --validate FILE [--schema SCHEMA] checks a file
// without any window, prints each problem and a count line, and answers with its exit
// code (0 valid, 1 not valid, 2 the file or the schema could not be read).
#pragma once

#include <QCommandLineParser>

#include <optional>

namespace treelark {

void describeValidateOptions(QCommandLineParser& parser);
// The exit code when the command line asks for a check (after making it), nothing otherwise.
std::optional<int> runValidateCommand(const QCommandLineParser& parser);

} // namespace treelark
