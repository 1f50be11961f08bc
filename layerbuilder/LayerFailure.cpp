#include "LayerFailure.h"

#include "treelark/Prompts.h"

namespace treelark {

void reportFailure(long number, const QString& description)
{
    prompts().message(description, MsgButtons::OK, QString::number(number));
}

} // namespace treelark
