// Draws the help pages of the box, one 1920 x 1080 picture per page, in Simplified Chinese
// (<out>/help/) and English (<out>/help-en/). Button names are taken from the interface text source,
// so a page names each button exactly as the screen shows it.
// Usage: mkhelp <uitext.tsv> <output folder>
//
// The help pager draws its button strip over the top-left 630 x 70 pixels of every page; nothing is
// drawn there. The seventh page (07.png) is the alarm-handling page the pager's "Alarm" button opens.

#include "helpdrawing.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QTextStream>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

using namespace helpdraw;

// Row -> cells of the interface text source (0 Simplified Chinese, 1 English, ...).
QHash<int, QStringList> gTexts;
int gLang = 0;

bool loadTexts(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream in(&file);
    in.setCodec("UTF-8");
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.startsWith(QLatin1Char('#')) || line.isEmpty())
            continue;
        QStringList cells = line.split(QLatin1Char('\t'));
        bool ok = false;
        const int row = cells.takeFirst().toInt(&ok);
        if (ok)
            gTexts.insert(row, cells);
    }
    return !gTexts.isEmpty();
}

// A button label as one line: the source's \r\n and \n escapes become blanks.
QString label(int row)
{
    const QStringList cells = gTexts.value(row);
    QString t = cells.value(gLang);
    t.replace(QLatin1String("\\r"), QString()).replace(QLatin1String("\\n"), QLatin1String(" "));
    return t.replace(QLatin1String("\\t"), QLatin1String(" "))
        .replace(QLatin1String("\\\\"), QLatin1String("\\"))
        .simplified();
}

// "{127}" in a help text becomes the quoted label of row 127.
QString expand(const char *text)
{
    QString s = QString::fromUtf8(text);
    static const QRegularExpression ref(QStringLiteral("\\{(\\d+)\\}"));
    QRegularExpressionMatch m;
    while ((m = ref.match(s)).hasMatch()) {
        const QString name = label(m.captured(1).toInt());
        const QString quoted =
            gLang == 0 ? QStringLiteral("「%1」").arg(name) : QStringLiteral("\"%1\"").arg(name);
        s.replace(m.capturedStart(), m.capturedLength(), quoted);
    }
    return s;
}

// A mould surface as a camera sees it: grey plate, two cavities, a runner; `ng` adds a bright chip.
void cameraPicture(QPainter &p, const QRectF &r, const QString &title, int verdict)
{
    p.save();
    p.setClipRect(r);
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, QColor(0x5a, 0x5f, 0x66));
    g.setColorAt(1, QColor(0x38, 0x3c, 0x42));
    p.fillRect(r, g);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x22, 0x24, 0x28), 3));
    p.setBrush(QColor(0x48, 0x4c, 0x52));
    const double w = r.width(), h = r.height();
    p.drawRoundedRect(QRectF(r.left() + w * 0.12, r.top() + h * 0.2, w * 0.3, h * 0.55), 12, 12);
    p.drawRoundedRect(QRectF(r.left() + w * 0.58, r.top() + h * 0.2, w * 0.3, h * 0.55), 12, 12);
    p.drawLine(QPointF(r.left() + w * 0.42, r.center().y()), QPointF(r.left() + w * 0.58, r.center().y()));
    if (verdict < 0) {
        p.setBrush(QColor(0xee, 0xee, 0xe0));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(r.left() + w * 0.7, r.top() + h * 0.45), w * 0.025, w * 0.02);
    }
    p.setPen(Qt::white);
    p.setFont(font(20));
    p.drawText(r.adjusted(8, 4, -8, -4), Qt::AlignLeft | Qt::AlignTop, title);
    helpdraw::verdict(p, r, verdict);
    p.restore();
}

// The screen of the box in small: frame, camera area, menu bar on the right, status strip below.
struct Screen
{
    QRectF cameras, bar, strip;
};

Screen screen(QPainter &p, const QRectF &r)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(kDark);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(r, 18, 18);
    const QRectF inner = r.adjusted(16, 16, -16, -16);
    p.fillRect(inner, Qt::black);
    p.restore();
    const double barW = inner.width() * 0.2;
    Screen s;
    s.strip = QRectF(inner.left(), inner.bottom() - 34, inner.width(), 34);
    s.bar = QRectF(inner.right() - barW, inner.top(), barW, inner.height() - 36);
    s.cameras = QRectF(inner.left(), inner.top(), inner.width() - barW - 4, inner.height() - 36);
    return s;
}

void menuBar(QPainter &p, const QRectF &bar, const std::vector<int> &rows, int highlight)
{
    const double h = std::min(64.0, (bar.height() - 8) / rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        button(p, QRectF(bar.left() + 4, bar.top() + 4 + i * h, bar.width() - 8, h - 6), label(rows[i]),
               rows[i] == highlight, 17);
}

void statusStrip(QPainter &p, const QRectF &strip, int litOutputs)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(strip, QColor(0x30, 0x34, 0x3a));
    for (int i = 0; i < 16; ++i) {
        const bool lit = i >= 8 && (litOutputs >> (i - 8)) & 1;
        p.setBrush(lit ? kOk : QColor(0x8a, 0x8f, 0x94));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(strip.left() + 24 + i * (strip.width() - 40) / 16.0, strip.center().y()), 9,
                      9);
    }
    p.restore();
}

// A callout on the top-left corner of button `index` of a grid drawn by buttonGrid.
void gridCallout(QPainter &p, const QRectF &r, int columns, double buttonH, int index, int number)
{
    const double w = (r.width() - (columns - 1) * 12) / columns;
    callout(p,
            QPointF(r.left() + (index % columns) * (w + 12) + 8,
                    r.top() + (index / columns) * (buttonH + 12) + 8),
            number);
}

// A grid of buttons; `highlights` are drawn in orange.
void buttonGrid(QPainter &p, const QRectF &r, const std::vector<int> &rows, int columns,
                const std::vector<int> &highlights, double buttonH = 70)
{
    const double w = (r.width() - (columns - 1) * 12) / columns;
    for (size_t i = 0; i < rows.size(); ++i) {
        const int c = int(i) % columns, line = int(i) / columns;
        const bool hi = std::find(highlights.begin(), highlights.end(), rows[i]) != highlights.end();
        button(p, QRectF(r.left() + c * (w + 12), r.top() + line * (buttonH + 12), w, buttonH),
               label(rows[i]), hi);
    }
}

void box(QPainter &p, const QRectF &r, const QString &text)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0xe4, 0xe9, 0xef));
    p.setPen(QPen(kBlue, 3));
    p.drawRoundedRect(r, 12, 12);
    p.setPen(kDark);
    p.setFont(font(26));
    p.drawText(r.adjusted(20, 16, -20, -100), Qt::AlignCenter | Qt::TextWordWrap, text);
    p.restore();
}

struct Page
{
    const char *title[2];
    std::vector<const char *> zh, en;
    std::function<void(QPainter &, const QRectF &)> diagram;
};

std::vector<Page> pages()
{
    std::vector<Page> t;
    t.push_back(
        {{"设备概览", "The camera box at a glance"},
         {"本设备用最多八台相机看守模具。每次开模时拍照，在设定的检测区域内与良品模板比较，判定 OK 或 NG。",
          "OK：允许合模。NG：先重新检测，仍为 NG 时报警输出接通，合模保持禁止，直到处理完报警。",
          "相机画面占满屏幕：实时图像、检测区域、OK/NG 结果、倒计时和 NG/总数计数。",
          "触摸相机画面，右侧出现菜单栏；两分钟无触摸后自动收起。",
          "屏幕底部的状态条显示 I/O 板的输入和输出。"},
         {"The box guards the mould with up to eight cameras. Each time the mould opens it takes a "
          "picture, compares the marked regions with templates learnt from good cycles and judges OK or NG.",
          "OK: the clamp may close. NG: the mould is checked again; when it stays NG the alarm output "
          "switches on and clamping stays blocked until the alarm is dealt with.",
          "The camera views fill the screen: live picture, regions, OK/NG verdict, countdown and the "
          "NG/total counters.",
          "Touch a camera view to bring up the menu bar on the right; it hides itself after two minutes "
          "without a touch.",
          "The strip at the bottom shows the inputs and outputs of the I/O board."},
         [](QPainter &p, const QRectF &r) {
             const Screen s = screen(p, QRectF(r.left(), r.top() + 60, r.width(), r.width() * 0.62));
             const QRectF a = s.cameras;
             cameraPicture(p, QRectF(a.left(), a.top(), a.width() / 2 - 2, a.height()), label(43).arg(1), 1);
             cameraPicture(p, QRectF(a.center().x() + 2, a.top(), a.width() / 2 - 2, a.height()),
                           label(43).arg(2), 1);
             menuBar(p, s.bar, {126, 127, 215, 129, 130, 541, 111}, 0);
             statusStrip(p, s.strip, 0b0101);
             callout(p, a.center() - QPointF(a.width() / 4, 0), 3);
             callout(p, QPointF(s.bar.center().x(), s.bar.top() - 30), 4);
             callout(p, QPointF(s.strip.center().x(), s.strip.bottom() + 40), 5);
         }});
    t.push_back(
        {{"开始和停止检测", "Starting and stopping detection"},
         {"开机后设备自动开始检测。",
          "按菜单栏的{127}停止检测，在提问{140}中选择是。若设置了{556}，需要先输入密码。",
          "检测停止时按钮显示{136}，再按一次即重新开始检测。", "设置了{179}时，检测停止期间一直禁止合模。",
          "每次开始和停止都记入{206}。"},
         {"The box starts detecting by itself when it is switched on.",
          "Press {127} in the menu bar and answer yes to {140} to stop. With {556} set, the password is "
          "asked first.",
          "While stopped the button reads {136}; press it to start detecting again.",
          "With {179} set, clamping stays blocked for as long as detection is stopped.",
          "Every start and stop is written to the {206}."},
         [](QPainter &p, const QRectF &r) {
             menuBar(p, QRectF(r.left() + 20, r.top() + 40, 300, 460), {126, 127, 215, 129, 130, 111}, 127);
             callout(p, QPointF(r.left() + 350, r.top() + 40 + 64 + 30), 2);
             box(p, QRectF(r.left() + 380, r.top() + 200, 400, 260), label(140));
             button(p, QRectF(r.left() + 410, r.top() + 380, 150, 56), gLang == 0 ? "是" : "Yes", true);
             button(p, QRectF(r.left() + 600, r.top() + 380, 150, 56), gLang == 0 ? "否" : "No", false);
             button(p, QRectF(r.left() + 20, r.top() + 600, 300, 58), label(136), false, 17);
             callout(p, QPointF(r.left() + 350, r.top() + 629), 3);
         }});
    t.push_back(
        {{"登录与用户级别", "Login and user levels"},
         {"勾选{170}后，需要权限的操作会先弹出密码框，用数字键盘输入密码。",
          "普通密码（在{205}页用{171}修改）可以开始/停止检测、设置区域、重新取样和修改参数。",
          "高级密码由安装人员掌握，用于{205}页：参数组、更新程序、导出数据和硬件配置。",
          "超过{189}设定的时间没有触摸，登录自动注销。",
          "超过{243}设定的时间屏幕熄灭，触摸任意位置即可点亮。"},
         {"With {170} checked, an action that needs a level first asks for the password on the digit pad.",
          "The basic password (changed with {171} on the {205} page) allows starting and stopping, "
          "regions, resampling and the settings.",
          "The advanced password belongs to the installer and opens the {205} page: parameter groups, "
          "program update, data export and the hardware list.",
          "The login ends by itself after the {189} time without a touch.",
          "The screen goes dark after the {243} time; touch it anywhere to wake it."},
         [](QPainter &p, const QRectF &r) {
             box(p, QRectF(r.left() + 80, r.top() + 40, 620, 720), QString());
             p.save();
             p.setFont(font(30));
             p.setPen(kDark);
             p.drawText(QRectF(r.left() + 80, r.top() + 60, 620, 50), Qt::AlignCenter,
                        gLang == 0 ? "请输入密码" : "Password");
             p.setBrush(Qt::white);
             p.setPen(QPen(kBlue, 2));
             p.drawRect(QRectF(r.left() + 140, r.top() + 130, 500, 64));
             p.setFont(font(40));
             p.drawText(QRectF(r.left() + 140, r.top() + 130, 500, 64), Qt::AlignCenter, "● ● ● ●");
             p.restore();
             const char *keys[12] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "←", "0", "OK"};
             for (int i = 0; i < 12; ++i)
                 button(p, QRectF(r.left() + 140 + (i % 3) * 172, r.top() + 230 + (i / 3) * 120, 150, 100),
                        QString::fromUtf8(keys[i]), i == 11, 36);
             callout(p, QPointF(r.left() + 60, r.top() + 162), 1);
         }});
    t.push_back(
        {{"设置检测区域", "Setting the detection regions"},
         {"按菜单栏的{130}打开区域编辑页，在上方选择相机和检测次序。",
          "按{49}、{51}或{53}，然后在画面上拖动画出区域；多边形逐点点击，最后按{33}。",
          "点选区域后可移动、{9}，并在{2}中选择功能（如{15}、{17}、{21}）和参数、{672}。",
          "{55}删除所选区域，{57}删除全部；{54}把误报的点标为不报警。",
          "按{121}保存区域；按{58}离开，有未保存的修改时会提问。"},
         {"Press {130} in the menu bar to open the region editor; choose the camera and the detection "
          "at the top.",
          "Press {49}, {51} or {53}, then drag on the picture; a polygon is tapped corner by corner and "
          "closed with {33}.",
          "Select a region to move it or {9}, and choose its {2} (e.g. {15}, {17}, {21}), parameters "
          "and {672}.",
          "{55} deletes the selected region, {57} all of them; {54} marks a falsely reported point as "
          "never reported.",
          "{121} saves the regions; {58} leaves and asks when changes are not saved."},
         [](QPainter &p, const QRectF &r) {
             const QRectF pic(r.left(), r.top() + 40, 470, 520);
             cameraPicture(p, pic, label(73).arg(1).arg(2), 0);
             p.save();
             p.setRenderHint(QPainter::Antialiasing);
             p.setBrush(Qt::NoBrush);
             p.setPen(QPen(kOk, 4));
             p.drawRect(QRectF(pic.left() + 50, pic.top() + 100, 150, 300));
             p.drawEllipse(QRectF(pic.left() + 270, pic.top() + 110, 150, 150));
             QPolygonF poly;
             poly << QPointF(pic.left() + 280, pic.top() + 330) << QPointF(pic.left() + 430, pic.top() + 310)
                  << QPointF(pic.left() + 400, pic.top() + 470)
                  << QPointF(pic.left() + 300, pic.top() + 450);
             p.drawPolygon(poly);
             p.restore();
             buttonGrid(p, QRectF(r.left() + 490, r.top() + 40, 300, 700),
                        {49, 51, 53, 33, 9, 55, 57, 54, 121, 58}, 2, {49, 51, 53, 121}, 64);
             callout(p, QPointF(pic.left() + 125, pic.top() + 250), 2);
         }});
    t.push_back(
        {{"模板与重新取样", "Templates and resampling"},
         {"检测把区域内的图像与良品模板比较；按{129}后，接下来的检测画面被学习为新模板。",
          "模具或产品更换后按菜单栏的{129}：重新学习所有检测次序的模板，之后打开区域页供检查。",
          "在区域页的画面选择中选{52}，用{59}/{62}浏览模板，{63}删除当前模板。",
          "{48}把当前画面加为模板；每个检测次序最多保存的模板数在{205}页设置。",
          "重新取样期间不要放入不良品，否则会被学成模板。"},
         {"Detection compares the regions with templates of good moulds; after {129} the next detections "
          "are learnt as the new templates.",
          "After a mould or product change press {129} in the menu bar: every detection learns its "
          "templates anew, then the region editor opens for a check.",
          "In the region editor choose {52} as the picture to browse the templates with {59}/{62}; "
          "{63} deletes the one shown.",
          "{48} adds the picture shown as a template; the most templates kept per detection is set on "
          "the {205} page.",
          "Keep bad parts out while resampling, or they are learnt as good."},
         [](QPainter &p, const QRectF &r) {
             menuBar(p, QRectF(r.left() + 20, r.top() + 40, 280, 400), {126, 127, 215, 129, 130}, 129);
             callout(p, QPointF(r.left() + 330, r.top() + 40 + 3 * 64 + 30), 2);
             for (int i = 0; i < 3; ++i)
                 cameraPicture(p, QRectF(r.left() + 380, r.top() + 40 + i * 190, 260, 170),
                               QStringLiteral("%1 %2").arg(label(52)).arg(i + 1), 0);
             buttonGrid(p, QRectF(r.left() + 20, r.top() + 640, 760, 70), {59, 62, 63, 48}, 4, {48}, 64);
         }});
    t.push_back(
        {{"相机画面与放大", "Camera views and zoom"},
         {"多台相机时画面平铺显示；只有一台相机，或在{128}页选择某台相机时，该相机单独占满屏幕。",
          "单独显示时左侧有放大镜按钮：按一下展开全部缩放按钮，再按即放大；“−”缩小，方框恢复原尺寸，方向键移"
          "动画面，按住可连续动作。",
          "缩放按钮 30 秒无操作后自动收起。", "按菜单栏的{126}回到所有相机的平铺显示。",
          "画面显示“相机丢失”时检查相机连线；相机恢复前禁止合模。"},
         {"With several cameras the views are tiled; a single camera, or the camera chosen on the {128} "
          "page, fills the screen alone.",
          "A camera shown alone has a magnifier button at the left: one press unfolds all zoom buttons, "
          "the next zooms in; \"−\" zooms out, the square returns to the full picture, the arrows move "
          "it. Held down, a button repeats.",
          "The zoom buttons hide themselves after 30 s without use.",
          "Press {126} in the menu bar to return to all cameras.",
          "When a view reports a lost camera, check its cable; clamping stays blocked until the camera "
          "is back."},
         [](QPainter &p, const QRectF &r) {
             const QRectF pic(r.left() + 100, r.top() + 40, 660, 520);
             cameraPicture(p, pic, label(43).arg(1), 1);
             p.save();
             p.setRenderHint(QPainter::Antialiasing);
             const char *glyphs[7] = {"+", "□", "−", "↑", "↓", "←", "→"};
             for (int i = 0; i < 7; ++i) {
                 const QPointF c(r.left() + 140, r.top() + 110 + i * 64);
                 p.setBrush(QColor(255, 255, 255, 220));
                 p.setPen(QPen(kBlue, 3));
                 p.drawEllipse(c, 28, 28);
                 p.setPen(kBlue);
                 p.setFont(font(30, true));
                 p.drawText(QRectF(c.x() - 28, c.y() - 28, 56, 56), Qt::AlignCenter,
                            QString::fromUtf8(glyphs[i]));
             }
             p.restore();
             callout(p, QPointF(r.left() + 50, r.top() + 110), 2);
             button(p, QRectF(r.left() + 20, r.top() + 600, 280, 64), label(126), true, 20);
             callout(p, QPointF(r.left() + 330, r.top() + 632), 4);
         }});
    t.push_back(
        {{"报警处理", "Handling an alarm"},
         {"模具判为 NG 时设备按设定次数重新检测；仍为 NG "
          "时报警输出接通、禁止合模，区域页自动打开，显示报警相机的 NG 画面，异物以红色标出。",
          "先到机器上查看并清除异物，然后选择处理方法：",
          "{61}：重新拍照检测；已清除异物时报警解除，继续生产。",
          "{47}：本模不检测，放行一次（可选单台或{44}）；{48}：把此画面作为良品模板；{671}：保存为 OK "
          "图片。",
          "{54}：此点以后不再报警。每台报警相机处理完后按{58}回到相机画面。所有处理都记入{206}。"},
         {"When the mould is judged NG it is checked again the set number of times; when it stays NG the "
          "alarm output switches on, clamping stays blocked and the region editor opens on the NG "
          "picture of the alarming camera, the object marked in red.",
          "First look at the machine and remove the object, then choose how the alarm is dealt with:",
          "{61}: take and judge a new picture; when the object is gone the alarm ends and production "
          "goes on.",
          "{47}: let this mould pass once without detection (one camera or {44}); {48}: the picture "
          "becomes a good template; {671}: keep the picture as an OK picture.",
          "{54}: never report this point again. When every alarming camera is dealt with, press {58} to "
          "return to the cameras. Every choice is written to the {206}."},
         [](QPainter &p, const QRectF &r) {
             const QRectF pic(r.left(), r.top() + 40, 430, 420);
             cameraPicture(p, pic, label(43).arg(1), -1);
             p.save();
             p.setRenderHint(QPainter::Antialiasing);
             p.setBrush(Qt::NoBrush);
             p.setPen(QPen(kNg, 4));
             p.drawEllipse(QPointF(pic.left() + pic.width() * 0.7, pic.top() + pic.height() * 0.45), 34, 30);
             p.setBrush(kNg);
             p.setPen(Qt::NoPen);
             p.drawEllipse(QPointF(pic.left() + 40, pic.bottom() + 60), 22, 22);
             p.setPen(kNg);
             p.setFont(font(30, true));
             p.drawText(QRectF(pic.left() + 80, pic.bottom() + 36, 400, 50),
                        Qt::AlignVCenter | Qt::AlignLeft, gLang == 0 ? "报警输出接通" : "Alarm output on");
             p.restore();
             buttonGrid(p, QRectF(r.left() + 490, r.top() + 40, 300, 600), {61, 47, 48, 671, 54, 58}, 1,
                        {61, 47, 48, 671, 54}, 76);
             callout(p, QPointF(r.left() + 470, r.top() + 78), 3);
             callout(p, QPointF(r.left() + 470, r.top() + 166), 4);
             callout(p, QPointF(r.left() + 470, r.top() + 430), 5);
         }});
    t.push_back(
        {{"系统参数", "Settings"},
         {"按菜单栏的{215}打开设置页。设置页修改的是参数的工作副本，按{121}后才生效。",
          "下方按钮切换页面：{215}、{128}、{262}、{266}和{205}（需高级密码）。",
          "点击数值框用数字键盘输入；超出范围的值不会被接受。",
          "只有按{121}，修改才会记入{206}、保存并生效。",
          "{128}页的曝光、增益等修改会立即送到相机，便于对照画面调整。"},
         {"Press {215} in the menu bar to open the settings. They edit a working copy of the parameters, "
          "which takes effect only with {121}.",
          "The buttons at the bottom switch pages: {215}, {128}, {262}, {266} and {205} (advanced "
          "password).",
          "Touch a value box to type on the digit pad; a value out of range is not taken.",
          "Only {121} writes the changes to the {206}, saves them and puts them in force.",
          "Exposure, gain and the other values of the {128} page reach the camera at once, so the "
          "picture shows the effect."},
         [](QPainter &p, const QRectF &r) {
             const Screen s = screen(p, QRectF(r.left(), r.top() + 40, r.width(), r.width() * 0.62));
             QRectF area = s.cameras.united(s.bar);
             p.fillRect(area, QColor(0xe8, 0xee, 0xf4));
             p.save();
             p.setFont(font(18));
             p.setPen(kDark);
             for (int i = 0; i < 5; ++i) {
                 const QRectF line(area.left() + 20, area.top() + 20 + i * 50, area.width() * 0.55, 40);
                 p.drawText(line, Qt::AlignVCenter | Qt::AlignLeft,
                            label(std::vector<int>{243, 189, 185, 186, 187}[i]));
                 p.setBrush(Qt::white);
                 p.setPen(QPen(kBlue, 2));
                 p.drawRect(QRectF(area.left() + area.width() * 0.6, line.top() + 4, 120, 32));
                 p.setPen(kDark);
             }
             p.restore();
             const std::vector<int> tabs{215, 128, 262, 266, 205, 121};
             const double w = area.width() / 6;
             for (int i = 0; i < 6; ++i)
                 button(p, QRectF(area.left() + i * w + 3, area.bottom() - 60, w - 6, 54), label(tabs[i]),
                        tabs[i] == 121, 15);
             callout(p, QPointF(area.left() + area.width() * 0.4, area.bottom() + 70), 2);
             callout(p, QPointF(area.right() - w / 2, area.bottom() + 70), 4);
         }});
    t.push_back(
        {{"维护与硬件", "Upkeep and hardware"},
         {"{205}页（高级密码）：每套模具的参数可用{182}、{183}、{184}按名称保存、还原和删除。",
          "{326}把程序目录和图片导出到 U 盘；{325}从 U 盘选择更新包，重启后安装。",
          "{615}从更新服务器列出程序版本并下载；下载前自动备份当前程序。",
          "{720}显示本机硬件清单（conf.txt）和正在使用的相机数量。",
          "{551}恢复出厂参数；{206}查看每天的操作记录。"},
         {"On the {205} page (advanced password) the parameters of each mould are saved, restored and "
          "deleted by name with {182}, {183} and {184}.",
          "{326} copies the program folder with its pictures to a USB disk; {325} takes an update file "
          "from it, installed at the next start.",
          "{615} lists the program versions of the update server and downloads one, after backing up "
          "the program in use.",
          "{720} shows the hardware list of this box (conf.txt) with the number of cameras in use.",
          "{551} restores the factory parameters; {206} shows the operation record of each day."},
         [](QPainter &p, const QRectF &r) {
             const QRectF grid(r.left() + 30, r.top() + 60, 750, 600);
             buttonGrid(p, grid, {182, 183, 184, 326, 325, 615, 720, 551, 206}, 3, {720}, 90);
             const int numbers[5][2] = {{0, 1}, {3, 2}, {5, 3}, {6, 4}, {7, 5}};
             for (const auto &n : numbers)
                 gridCallout(p, grid, 3, 90, n[0], n[1]);
         }});
    return t;
}

bool drawPages(const QString &folder)
{
    QDir().mkpath(folder);
    const std::vector<Page> all = pages();
    bool ok = true;
    for (size_t i = 0; i < all.size(); ++i) {
        const Page &page = all[i];
        QImage img(1920, 1080, QImage::Format_RGB32);
        img.fill(kPaper);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        titleBand(p, 1920);
        p.setPen(kText);
        p.setFont(font(44, true));
        p.drawText(QRect(660, 0, 1040, 100), Qt::AlignVCenter | Qt::AlignLeft,
                   QString::fromUtf8(page.title[gLang]));
        p.setFont(font(30));
        p.drawText(QRect(1700, 0, 190, 100), Qt::AlignVCenter | Qt::AlignRight,
                   QStringLiteral("%1 / %2").arg(i + 1).arg(all.size()));

        // The points on the left, numbered as the callouts of the drawing on the right.
        const std::vector<const char *> &points = gLang == 0 ? page.zh : page.en;
        double y = 150;
        for (size_t k = 0; k < points.size(); ++k) {
            callout(p, QPointF(100, y + 22), int(k + 1));
            p.setPen(kDark);
            p.setFont(font(gLang == 0 ? 36 : 33));
            const QRectF area(150, y, 880, 1000 - y);
            const QRectF used = p.boundingRect(area, Qt::TextWordWrap, expand(points[k]));
            p.drawText(area, Qt::TextWordWrap, expand(points[k]));
            y += used.height() + 36;
        }
        if (y > 1040)
            std::fprintf(stderr, "mkhelp: text of page %zu runs off the page\n", i + 1);
        page.diagram(p, QRectF(1080, 150, 800, 880));
        p.end();
        const QString path = QStringLiteral("%1/%2.png").arg(folder).arg(i + 1, 2, 10, QLatin1Char('0'));
        if (!img.save(path)) {
            std::fprintf(stderr, "mkhelp: cannot write %s\n", qPrintable(path));
            ok = false;
        }
    }
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: mkhelp <uitext.tsv> <output folder>\n");
        return 2;
    }
    if (!loadTexts(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "mkhelp: cannot read %s\n", argv[1]);
        return 1;
    }
    const QString out = QString::fromLocal8Bit(argv[2]);
    gLang = 0;
    bool ok = drawPages(out + QStringLiteral("/help"));
    gLang = 1;
    ok &= drawPages(out + QStringLiteral("/help-en"));
    return ok ? 0 : 1;
}
