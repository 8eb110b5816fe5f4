#include "app/MaxLengthFormatter.h"

#include <algorithm>

namespace corvex {

MaxLengthFormatter::MaxLengthFormatter(QObject* parent)
    : QValidator(parent)
{
}

MaxLengthFormatter::MaxLengthFormatter(int maxLength, QObject* parent)
    : QValidator(parent)
    , m_maxLength(maxLength)
{
}

MaxLengthFormatter* MaxLengthFormatter::formatterWithLength(int length, QObject* parent)
{
    return new MaxLengthFormatter(length, parent);
}

bool MaxLengthFormatter::isPartialStringValid(const QString& partialString) const
{
    if (partialString.size() > m_maxLength)
        return false;
    // ASCII without loss; a NUL would end the text early in the instrument.
    return std::all_of(partialString.begin(), partialString.end(),
        [](QChar c) { return c.unicode() > 0 && c.unicode() < 0x80; });
}

QValidator::State MaxLengthFormatter::validate(QString& input, int&) const
{
    return isPartialStringValid(input) ? Acceptable : Invalid;
}

} // namespace corvex
