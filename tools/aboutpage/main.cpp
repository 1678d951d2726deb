// kirrow_aboutpage: writes the README as one self-contained HTML page (its pictures inside it),
// the about page that the logo of the main window opens.
//
//   kirrow_aboutpage <README.md> <about.html>
//
// It knows what the README uses: headings, paragraphs, lists with their continued lines,
// indented and fenced code, tables, and inline code, bold, links and pictures.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>

#include <cstdio>

namespace {

QString escaped(const QString &text) {
    return text.toHtmlEscaped();
}

// A picture the README shows, inside the page, so the page needs no other file.
QString pictureSource(const QDir &base, const QString &path) {
    QFile file(base.filePath(path));
    if (!file.open(QIODevice::ReadOnly))
        return escaped(path);
    const QString type = QMimeDatabase().mimeTypeForFile(file.fileName()).name();
    return QStringLiteral("data:%1;base64,%2")
        .arg(type, QString::fromLatin1(file.readAll().toBase64()));
}

// Code spans first, so nothing inside them is read as Markdown; then pictures, links and bold.
QString inlineHtml(const QString &text, const QDir &base) {
    static const QRegularExpression code(QStringLiteral("`([^`]+)`"));
    static const QRegularExpression picture(QStringLiteral(R"(!\[([^\]]*)\]\(([^)\s]+)\))"));
    static const QRegularExpression link(QStringLiteral(R"(\[([^\]]+)\]\(([^)\s]+)\))"));
    static const QRegularExpression bold(QStringLiteral(R"(\*\*(.+?)\*\*)"));
    QString out;
    qsizetype done = 0;
    auto spans = code.globalMatch(text);
    auto plain = [&](const QString &part) {
        QString html = escaped(part);
        html.replace(picture, QStringLiteral("\x01\\1\x02\\2\x03"));
        html.replace(link, QStringLiteral("<a href=\"\\2\">\\1</a>"));
        html.replace(bold, QStringLiteral("<strong>\\1</strong>"));
        // Pictures last: their data must not be read as Markdown.
        static const QRegularExpression marked(QStringLiteral("\x01([^\x02]*)\x02([^\x03]*)\x03"));
        QString result;
        qsizetype from = 0;
        for (auto found = marked.globalMatch(html); found.hasNext();) {
            const auto m = found.next();
            result += html.mid(from, m.capturedStart() - from);
            result += QStringLiteral("<img alt=\"%1\" src=\"%2\">")
                          .arg(m.captured(1), pictureSource(base, m.captured(2)));
            from = m.capturedEnd();
        }
        return result + html.mid(from);
    };
    while (spans.hasNext()) {
        const auto m = spans.next();
        out += plain(text.mid(done, m.capturedStart() - done));
        out += QStringLiteral("<code>%1</code>").arg(escaped(m.captured(1)));
        done = m.capturedEnd();
    }
    return out + plain(text.mid(done));
}

qsizetype indentOf(const QString &line) {
    qsizetype n = 0;
    while (n < line.size() && line[n] == QLatin1Char(' '))
        ++n;
    return n;
}

QStringList tableCells(const QString &line) {
    QString row = line.trimmed();
    if (row.startsWith(QLatin1Char('|')))
        row.remove(0, 1);
    if (row.endsWith(QLatin1Char('|')))
        row.chop(1);
    QStringList cells = row.split(QLatin1Char('|'));
    for (QString &cell : cells)
        cell = cell.trimmed();
    return cells;
}

QString toHtml(const QStringList &lines, const QDir &base) {
    static const QRegularExpression heading(QStringLiteral("^(#{1,6})\\s+(.*)$"));
    static const QRegularExpression item(QStringLiteral("^([-*])\\s+(.*)$"));
    static const QRegularExpression rule(QStringLiteral("^\\|?\\s*:?-{3,}"));
    QString body;
    QString title;
    qsizetype i = 0;
    const qsizetype count = lines.size();
    auto blank = [&](qsizetype at) { return at >= count || lines[at].trimmed().isEmpty(); };
    while (i < count) {
        const QString &line = lines[i];
        if (blank(i)) {
            ++i;
            continue;
        }
        if (const auto m = heading.match(line); m.hasMatch()) {
            const int level = int(m.captured(1).size());
            if (title.isEmpty())
                title = m.captured(2);
            body +=
                QStringLiteral("<h%1>%2</h%1>\n").arg(level).arg(inlineHtml(m.captured(2), base));
            ++i;
            continue;
        }
        if (line.startsWith(QStringLiteral("```"))) {
            QStringList code;
            for (++i; i < count && !lines[i].startsWith(QStringLiteral("```")); ++i)
                code << lines[i];
            ++i;
            body += QStringLiteral("<pre><code>%1</code></pre>\n").arg(escaped(code.join('\n')));
            continue;
        }
        if (indentOf(line) >= 4) {
            // Indented code runs to the first line that is neither blank nor indented.
            QStringList code;
            while (i < count && (blank(i) || indentOf(lines[i]) >= 4))
                code << lines[i++].mid(4);
            while (!code.isEmpty() && code.last().trimmed().isEmpty())
                code.removeLast();
            body += QStringLiteral("<pre><code>%1</code></pre>\n").arg(escaped(code.join('\n')));
            continue;
        }
        if (line.startsWith(QLatin1Char('|')) && i + 1 < count &&
            rule.match(lines[i + 1]).hasMatch()) {
            body += QStringLiteral("<table>\n<tr>");
            for (const QString &cell : tableCells(line))
                body += QStringLiteral("<th>%1</th>").arg(inlineHtml(cell, base));
            body += QStringLiteral("</tr>\n");
            for (i += 2; i < count && lines[i].trimmed().startsWith(QLatin1Char('|')); ++i) {
                body += QStringLiteral("<tr>");
                for (const QString &cell : tableCells(lines[i]))
                    body += QStringLiteral("<td>%1</td>").arg(inlineHtml(cell, base));
                body += QStringLiteral("</tr>\n");
            }
            body += QStringLiteral("</table>\n");
            continue;
        }
        if (item.match(line).hasMatch()) {
            // Each item runs on over the indented lines after it; a blank line between items
            // keeps the list going.
            body += QStringLiteral("<ul>\n");
            while (i < count) {
                const auto m = item.match(lines[i]);
                if (!m.hasMatch())
                    break;
                QStringList text{m.captured(2)};
                for (++i; i < count && !blank(i) && indentOf(lines[i]) >= 2; ++i)
                    text << lines[i].trimmed();
                body += QStringLiteral("<li>%1</li>\n").arg(inlineHtml(text.join(' '), base));
                if (blank(i) && i + 1 < count && item.match(lines[i + 1]).hasMatch())
                    ++i;
            }
            body += QStringLiteral("</ul>\n");
            continue;
        }
        QStringList text;
        while (i < count && !blank(i) && !heading.match(lines[i]).hasMatch() &&
               !item.match(lines[i]).hasMatch() && !lines[i].startsWith(QStringLiteral("```")))
            text << lines[i++].trimmed();
        body += QStringLiteral("<p>%1</p>\n").arg(inlineHtml(text.join(' '), base));
    }
    return QStringLiteral(
               "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
               "<title>About %1</title>\n<style>\n"
               "body { font-family: sans-serif; max-width: 46em; margin: 2em auto; padding: 0 1em;"
               " line-height: 1.45; color: #172f3c; background: #f4f9fb; }\n"
               "h1, h2 { color: #1e6079; }\n"
               "pre { background: #dbe9ef; padding: 0.6em 0.8em; overflow-x: auto; }\n"
               "code { background: #dbe9ef; padding: 0 0.2em; }\n"
               "pre code { padding: 0; }\n"
               "table { border-collapse: collapse; }\n"
               "th, td { border: 1px solid #9cbfcd; padding: 0.2em 0.6em; text-align: left; }\n"
               "img { margin: 0.3em; vertical-align: top; }\n"
               "</style>\n</head>\n<body>\n%2</body>\n</html>\n")
        .arg(escaped(title), body);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: kirrow_aboutpage <README.md> <about.html>\n");
        return 2;
    }
    QFile readme(args[1]);
    if (!readme.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "kirrow_aboutpage: cannot read %s\n", qPrintable(args[1]));
        return 1;
    }
    const QStringList lines = QString::fromUtf8(readme.readAll()).split(QLatin1Char('\n'));
    QSaveFile page(args[2]);
    if (!page.open(QIODevice::WriteOnly) ||
        page.write(toHtml(lines, QFileInfo(args[1]).absoluteDir()).toUtf8()) < 0 ||
        !page.commit()) {
        std::fprintf(stderr, "kirrow_aboutpage: cannot write %s\n", qPrintable(args[2]));
        return 1;
    }
    return 0;
}
