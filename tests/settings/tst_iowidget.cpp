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
