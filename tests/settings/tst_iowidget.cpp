// The multiple-detection I/O page and the I/O names page: the ownership rules under random clicking,
// hostile stored values, Confirm, and names reaching the page at once.
#include "boxtestpolicy.h"
#include "checkbox.h"
#include "combobox.h"
#include "customionamewidget.h"
#include "iocheckcombo.h"
#include "ionames.h"
#include "iowidget.h"
#include "sysparam.h"
#include "uitexttable.h"
#include "warnbox.h"

#include <QRandomGenerator>
#include <QtTest>
#include <cstring>

class TestIOWidget : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void randomClicksKeepTheGridOrdered();
    void scriptedClicksLockTheKnownBoxes();
    void hostileStoredValuesLoadSafely_data();
    void hostileStoredValuesLoadSafely();
    void confirmNeedsTheLastOutputOwned();
    void namesReachThePageAtOnce();

private:
    // Fails the test when the page's state breaks a rule; `what` names the step.
    void checkRules(IOWidget &page, const QByteArray &what);
    SysParam m_inForce;
    SysParam m_edit;
};

void TestIOWidget::initTestCase()
{
    fillUiTextTable();
    gWarnBox = new WarnBox;
}

void TestIOWidget::init()
{
    gLanguage = 1;
    m_inForce = SysParam();
    m_edit = SysParam();
    gSysParam = &m_inForce;
    gSysParamEdit = &m_edit;
    BoxTestPolicy::enable(1);
    BoxTestPolicy::clearShown();
}

void TestIOWidget::checkRules(IOWidget &page, const QByteArray &what)
{
    const int n = page.count;
    QVERIFY2(n >= 2 && n <= 8, what);
    int lastColumn = -1;
    int lastRow = -1;
    for (int u = 0; u < 8; ++u) {
        int owners = 0;
        for (int r = 0; r < 8; ++r) {
            if (!page.rows[r]->box(u)->isChecked())
                continue;
            ++owners;
            QVERIFY2(r < n && u < n, what + " checked box outside the grid");
            QVERIFY2(page.outputOwner[u] == r, what + " owner differs from the box");
        }
        QVERIFY2(owners <= 1, what + " output with two owners");
        if (owners == 0)
            QVERIFY2(page.outputOwner[u] == -1, what + " owner without a box");
    }
    // Scanning columns left to right, owners never go back to an earlier row.
    for (int u = 0; u < n; ++u) {
        const int r = page.outputOwner[u];
        if (r < 0)
            continue;
        QVERIFY2(r >= lastRow, what + " a later row owns an output left of an earlier row's");
        if (r != lastRow)
            QVERIFY2(u > lastColumn, what);
        lastRow = r;
        lastColumn = u;
    }
    int previous = 0;
    for (int r = 0; r < n; ++r) {
        const int in = page.rows[r]->selectedInput;
        QVERIFY2(in >= previous && in < n, what + " trigger inputs decrease or leave the range");
        previous = in;
    }
}

void TestIOWidget::randomClicksKeepTheGridOrdered()
{
    IOWidget page;
    page.show();
    QRandomGenerator rng(2324);
    for (int step = 0; step < 3000; ++step) {
        const int action = rng.bounded(20);
        const QByteArray what = "step " + QByteArray::number(step);
        if (action == 0) {
            page.countCombo->setCurrentIndex(rng.bounded(7));
        } else if (action == 1) {
            page.reset();
        } else if (action < 5) {
            IOCheckComBO *row = page.rows[rng.bounded(page.count)];
            if (row->triggerCombo->count() > 0)
                row->triggerCombo->setCurrentIndex(rng.bounded(row->triggerCombo->count()));
        } else {
            CheckBox *box = page.rows[rng.bounded(page.count)]->box(rng.bounded(page.count));
            if (box->isEnabled())
                box->click();
        }
        checkRules(page, what);
        if (QTest::currentTestFailed())
            return;
    }
}

// Four detections, boxes clicked as a setter would: after each click the boxes that may still be
// checked (1) or are locked (0), row by row, and the row owning each output, worked out by hand from
// the page's rule (an earlier row loses the checked column and every column right of it, a later row
// it and every column left of it; an uncheck frees what no other checked box still locks).
void TestIOWidget::scriptedClicksLockTheKnownBoxes()
{
    m_inForce.detectCount = 4;
    std::fill(std::begin(m_inForce.detTrigSource), std::end(m_inForce.detTrigSource), -1);
    for (int i = 0; i < 8; ++i)
        m_inForce.inputNameIdx[i] = i; // each input under its own name
    IOWidget page;
    page.show();
    QCOMPARE(page.count, 4);
    struct Step
    {
        const char *what;
        int row, column;
        const char *checkable; // rows 0 to 3, columns 0 to 3
        QVector<int> owners;
    };
    const Step steps[] = {
        {"row 2 takes output 3", 1, 2, "1100 1111 0001 0001", {-1, -1, 1, -1}},
        {"row 4 takes output 4", 3, 3, "1100 1110 0000 0001", {-1, -1, 1, 3}},
        {"row 1 takes output 1", 0, 0, "1100 0110 0000 0001", {0, -1, 1, 3}},
        {"row 2 gives output 3 back", 1, 2, "1110 0110 0110 0111", {0, -1, -1, 3}},
        {"row 3 takes output 2", 2, 1, "1000 0000 0110 0011", {0, 2, -1, 3}},
        {"row 1 gives output 1 back", 0, 0, "1000 1000 1110 0011", {-1, 2, -1, 3}},
    };
    for (const Step &step : steps) {
        CheckBox *box = page.rows[step.row]->box(step.column);
        QVERIFY2(box->isEnabled(), step.what);
        box->click();
        QString grid;
        for (int r = 0; r < 4; ++r) {
            if (r > 0)
                grid += QLatin1Char(' ');
            for (int u = 0; u < 4; ++u)
                grid += page.rows[r]->box(u)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
        }
        QVERIFY2(grid == QLatin1String(step.checkable), qPrintable(QString::fromLatin1(step.what) + ": " + grid));
        QVERIFY2(QVector<int>(page.outputOwner, page.outputOwner + 4) == step.owners, step.what);
        for (int u = 4; u < 8; ++u)
            QCOMPARE(page.outputOwner[u], -1);
        checkRules(page, step.what);
    }

    // Confirm stores the owners and the rows' inputs; row 1 on input 3 leaves rows 2 to 4 inputs 3 and 4.
    page.rows[0]->triggerCombo->setCurrentIndex(2);
    QCOMPARE(page.rows[0]->selectedInput, 2);
    QCOMPARE(page.rows[1]->firstInput, 2);
    QCOMPARE(page.rows[1]->triggerCombo->count(), 2);
    QCOMPARE(page.rows[1]->triggerCombo->itemText(0), QStringLiteral("op door"));
    QCOMPARE(page.rows[1]->triggerCombo->itemText(1), QStringLiteral("Thim O"));
    page.accept();
    QVERIFY(!page.isVisible());
    QCOMPARE(m_edit.detectCount, 4);
    QCOMPARE(QVector<int>(m_edit.detTrigSource, m_edit.detTrigSource + 8),
             QVector<int>({-1, 2, -1, 3, -1, -1, -1, -1}));
    QCOMPARE(QVector<int>(m_edit.detCheckMask, m_edit.detCheckMask + 4), QVector<int>({2, 2, 2, 2}));

    // Reset frees every box and every output.
    page.reset();
    for (int r = 0; r < 4; ++r)
        for (int u = 0; u < 4; ++u)
            QVERIFY(page.rows[r]->box(u)->isEnabled() && !page.rows[r]->box(u)->isChecked());
    QCOMPARE(QVector<int>(page.outputOwner, page.outputOwner + 8), QVector<int>(8, -1));
}

void TestIOWidget::hostileStoredValuesLoadSafely_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QVector<int>>("owners");
    QTest::addColumn<QVector<int>>("inputs");
    QTest::addColumn<int>("nameIndex");
    QTest::addColumn<int>("expectedCount");
    QTest::newRow("count 99, owners out of range") << 99 << QVector<int>{57, -9, 2, 8, 0, 0, 0, 0}
                                                   << QVector<int>{-3, 100, 1, 1, 1, 1, 1, 1} << 40 << 2;
    QTest::newRow("owners against the order")
        << 4 << QVector<int>{3, 0, 2, 1, -1, -1, -1, -1} << QVector<int>{3, 0, 2, 1, 0, 0, 0, 0} << -1 << 4;
    QTest::newRow("every output row 7 of 8") << 8 << QVector<int>(8, 7) << QVector<int>(8, 7) << 16 << 8;
}

void TestIOWidget::hostileStoredValuesLoadSafely()
{
    QFETCH(int, count);
    QFETCH(QVector<int>, owners);
    QFETCH(QVector<int>, inputs);
    QFETCH(int, nameIndex);
    QFETCH(int, expectedCount);
    m_inForce.detectCount = count;
    for (int i = 0; i < 8; ++i) {
        m_inForce.detTrigSource[i] = owners[i];
        m_inForce.detCheckMask[i] = inputs[i];
        m_inForce.detCutMode[i] = 77;
        m_inForce.inputNameIdx[i] = nameIndex;
        m_inForce.outputNameIdx[i] = nameIndex;
    }
    IOWidget page;
    page.show();
    QCOMPARE(page.count, expectedCount);
    checkRules(page, "after loading");
    for (int i = 0; i < 8; ++i) {
        QCOMPARE(page.inputNames[i], i);
        QCOMPARE(page.outputNames[i], i);
        QCOMPARE(page.rowCutMode[i], 0);
    }
    QCOMPARE(page.rows[0]->box(0)->text(), ioOutputName(0));
}

void TestIOWidget::confirmNeedsTheLastOutputOwned()
{
    m_inForce.detectCount = 3;
    std::fill(std::begin(m_inForce.detTrigSource), std::end(m_inForce.detTrigSource), -1);
    IOWidget page;
    page.show();
    const SysParam before = m_edit;
    page.rows[0]->box(0)->click();
    page.accept();
    QCOMPARE(BoxTestPolicy::shownTexts(), QStringList{uiText(512)});
    QVERIFY(page.isVisible());
    QVERIFY(std::memcmp(&m_edit, &before, sizeof before) == 0);

    page.rows[1]->box(1)->click();
    page.rows[2]->box(2)->click();
    page.rows[1]->triggerCombo->setCurrentIndex(1); // row 1 on input 1 moves row 2 to input 1 or later
    page.rows[2]->cutModeCombo->setCurrentIndex(2);
    page.accept();
    QVERIFY(!page.isVisible());
    QCOMPARE(m_edit.detectCount, 3);
    QCOMPARE(m_edit.detTrigSource[0], 0);
    QCOMPARE(m_edit.detTrigSource[1], 1);
    QCOMPARE(m_edit.detTrigSource[2], 2);
    QCOMPARE(m_edit.detTrigSource[3], -1);
    QCOMPARE(m_edit.detCheckMask[1], 1);
    QVERIFY(m_edit.detCheckMask[2] >= 1);
    QCOMPARE(m_edit.detCutMode[2], 2);
}

void TestIOWidget::namesReachThePageAtOnce()
{
    m_inForce.outputNameIdx[1] = 5;
    QWidget settings;
    IOWidget page(&settings);
    CustomIONameWidget names(nullptr, &settings, &page);
    names.outputCombos[0]->setCurrentIndex(1);
    names.inputCombos[0]->setCurrentIndex(9);
    names.accept();
    QCOMPARE(page.rows[0]->box(0)->text(), ioOutputName(1));
    QCOMPARE(page.rows[0]->triggerCombo->itemText(0), ioInputName(9));
    QCOMPARE(m_edit.outputNameIdx[0], 1);
    QCOMPARE(m_edit.inputNameIdx[0], 9);
    QCOMPARE(m_edit.outputNameIdx[1], 5);    // unchanged combos rewrite their indices
    QCOMPARE(m_inForce.outputNameIdx[0], 0); // only the working copy changes
    QVERIFY(settings.isVisible());
}

QTEST_MAIN(TestIOWidget)
#include "tst_iowidget.moc"
