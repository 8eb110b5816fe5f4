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

namespace {

bool storable(QChar c)
{
    // ASCII without loss; a NUL would end the text early in the instrument.
    return c.unicode() > 0 && c.unicode() < 0x80;
}

} // namespace

QString MaxLengthFormatter::unstorableCharacters(const QString& text)
{
    QString found;
    // Whole characters: an emoji is two UTF-16 units but one thing to point at.
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (storable(text[i]))
            continue;
        const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
        const QString character = text.mid(i, length);
        if (!found.contains(character))
            found += character;
        i += length - 1;
    }
    return found;
}

bool MaxLengthFormatter::isPartialStringValid(const QString& partialString) const
{
    return partialString.size() <= m_maxLength && std::all_of(partialString.begin(), partialString.end(), storable);
}

QValidator::State MaxLengthFormatter::validate(QString& input, int&) const
{
    if (input.size() > m_maxLength)
        return Invalid;
    return isPartialStringValid(input) ? Acceptable : Intermediate;
}

} // namespace corvex
