// Why reading or writing a layer stopped. The numbers are what the user sees as the
// title of the message box, so they stay fixed.
#pragma once

#include <QString>

#include <stdexcept>

namespace treelark {

class LayerFailure : public std::runtime_error {
public:
    enum : long {
        Overflow = 6,
        SubscriptOutOfRange = 9,
        TypeMismatch = 13,
        ObjectNotSet = 91,
    };

    LayerFailure(long number, const QString& description)
        : std::runtime_error(description.toStdString()), m_number(number), m_description(description)
    {
    }
    long number() const { return m_number; }
    QString description() const { return m_description; }

private:
    long m_number;
    QString m_description;
};

// Message box with the description as text and the number as title, OK button.
void reportFailure(long number, const QString& description);

} // namespace treelark
