// Start-up smoke test: the real binary in a laid-out working directory.
#include "testworkdir.h"
#include <QtTest>
class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void placeholder() { QVERIFY(QFile::exists(QStringLiteral(MG_APP_BINARY))); }
};
QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
