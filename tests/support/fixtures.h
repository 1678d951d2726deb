#pragma once

#include <QDir>
#include <QString>

// Files under tests/fixtures (exchange template, sipp scenarios).
// KIRROW_TEST_FIXTURES_DIR is set by tests/support/CMakeLists.txt; the
// environment variable of the same name overrides it, e.g. for an installed
// copy of the tests.
inline QString testFixturePath(const QString &relativePath) {
    QString dir = qEnvironmentVariable("KIRROW_TEST_FIXTURES_DIR");
#ifdef KIRROW_TEST_FIXTURES_DIR
    if (dir.isEmpty())
        dir = QStringLiteral(KIRROW_TEST_FIXTURES_DIR);
#endif
    return QDir(dir).filePath(relativePath);
}
