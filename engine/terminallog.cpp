#include "terminallog.h"

namespace quillon {

namespace {

// Blanks a redraw left behind (erasing is writing blanks) are not shown.
QString shown(const QString &line, bool redrawn)
{
    if (!redrawn) {
        return line;
    }
    qsizetype end = line.size();
    while (end > 0 && line.at(end - 1).isSpace()) {
        --end;
    }
    return line.left(end);
}

} // namespace

TerminalLog::Update TerminalLog::add(const QString &message)
{
    Update update;
    const bool continues =
        m_started && !message.isEmpty() &&
        (message.front() == QLatin1Char('\b') || message.front() == QLatin1Char('\r'));
    if (continues) {
        update.replaced = 1;
    } else if (m_progress) {
        // Taken as if erased: the message starts on the progress line's place.
        update.replaced = 1;
        m_line.clear();
        m_column = 0;
        m_redrawn = false;
    } else {
        m_line.clear();
        m_column = 0;
        m_redrawn = false;
        m_started = true;
    }
    for (const QChar ch : message) {
        if (ch == QLatin1Char('\n')) {
            update.lines << shown(m_line, m_redrawn);
            m_line.clear();
            m_column = 0;
            m_redrawn = false;
        } else if (ch == QLatin1Char('\r')) {
            m_column = 0;
            m_redrawn = true;
        } else if (ch == QLatin1Char('\b')) {
            m_column = qMax(0, m_column - 1);
            m_redrawn = true;
        } else if (ch == QLatin1Char('\t')) {
            m_column = (m_column / 8 + 1) * 8;
            if (m_line.size() < m_column) {
                m_line.append(QString(m_column - m_line.size(), QLatin1Char(' ')));
            }
        } else if (ch.category() != QChar::Other_Control) {
            if (m_column < m_line.size()) {
                m_line[m_column] = ch;
            } else {
                m_line.append(ch);
            }
            ++m_column;
        }
    }
    update.lines << shown(m_line, m_redrawn);
    m_progress = isArchiverProgress(update.lines.last());
    return update;
}

bool TerminalLog::isArchiverProgress(const QString &line)
{
    qsizetype i = 0;
    while (i < line.size() && line.at(i) == QLatin1Char(' ')) {
        ++i;
    }
    const qsizetype digits = i;
    while (i < line.size() && line.at(i) >= QLatin1Char('0') && line.at(i) <= QLatin1Char('9')) {
        ++i;
    }
    if (i == digits || i == line.size() ||
        (line.at(i) != QLatin1Char('%') && line.at(i) != QLatin1Char('M'))) {
        return false;
    }
    ++i;
    return i == line.size() || line.at(i) == QLatin1Char(' ');
}

void TerminalLog::clear()
{
    m_line.clear();
    m_column = 0;
    m_redrawn = false;
    m_started = false;
    m_progress = false;
}

} // namespace quillon
