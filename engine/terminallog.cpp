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
    return update;
}

void TerminalLog::clear()
{
    m_line.clear();
    m_column = 0;
    m_redrawn = false;
    m_started = false;
}

} // namespace quillon
