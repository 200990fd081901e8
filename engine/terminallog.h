// Shows a job's log lines as a terminal would: the archiver redraws its
// progress with backspaces (on Windows: carriage returns), and its output
// arrives in chunks that cut those redraws anywhere.
#pragma once

#include <QString>
#include <QStringList>

namespace quillon {

class TerminalLog
{
public:
    // What one message changed: the last `replaced` lines shown so far (0 or
    // 1) give way to `lines`. A line a redraw went over is shown without the
    // blanks it left at its end; other lines are shown as written.
    struct Update
    {
        int replaced = 0;
        QStringList lines;
    };

    // Writes one log message. A message starts a new line unless it begins
    // with a backspace or a carriage return: then it goes on where the
    // previous message left the cursor, as the archiver's next redraw does.
    // A progress line of the archiver left last (see isArchiverProgress) is
    // always taken by the next message: the archiver erases it before it
    // writes anything else, and where the erasing stood at a chunk's edge
    // (the carriage returns of Windows' 7-Zip) the trimmed chunk no longer
    // shows it. Inside a message a backspace moves back one column (never
    // past the line's start), a carriage return to the line's start, a line
    // feed to a new line; a tab moves to the next multiple of 8; printable
    // text overwrites from the cursor; other control characters are dropped.
    Update add(const QString &message);

    // True for a line of the archiver's progress display: its count field
    // (blanks, digits and "%", or "M" for megabytes while it scans) alone or
    // followed by a blank and more, as in "  5%", "26% + data.bin",
    // "99% 4 + app.exe" or "  0M Scan".
    static bool isArchiverProgress(const QString &line);

    // Forgets everything shown: the next message starts the first line.
    void clear();

private:
    // Only the last line can change; the ones before it are final.
    QString m_line; // as written, trailing blanks included
    int m_column = 0;
    bool m_redrawn = false; // a backspace or carriage return went over m_line
    bool m_started = false;
    bool m_progress = false; // m_line is a progress line of the archiver
};

} // namespace quillon
