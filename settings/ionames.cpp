#include "ionames.h"

#include "core/uitexttable.h"

namespace {

// zh-CN, en, zh-TW; the Japanese column repeats the English one.
struct Name
{
    const char *zh;
    const char *en;
    const char *tw;
};

const Name kInputs[kIoNameCount] = {
    {"开模到位", "Mol op", "開模到位"},  {"安全门关", "clo door", "安全門關"},
    {"安全门开", "op door", "安全門開"}, {"顶针退", "Thim O", "頂針退"},
    {"顶针进", "Thim I", "頂針進"},      {"开模阀", "Mol val", "開模閥"},
    {"机械手", "Manip", "機械手"},       {"复位键", "Res but", "復位鍵"},
    {"滑块退", "Slid back", "滑塊退"},   {"机手上行", "Mac up", "機手上行"},
    {"中子A进", "Neu A I", "中子A進"},   {"中子A退", "Neu A O", "中子A退"},
    {"中子B进", "Neu B I", "中子B進"},   {"中子B退", "Neu B O", "中子B退"},
    {"中子C进", "Neu C I", "中子C進"},   {"中子C退", "Neu C O", "中子C退"},
};

const Name kOutputs[kIoNameCount] = {
    {"允许合模", "Al clam", "允許合模"},   {"允许顶针", "Al thim", "允許頂針"},
    {"中子A进", "Neu A I", "中子A進"},     {"中子A退", "Neu A O", "中子A退"},
    {"中子B进", "Neu B I", "中子B進"},     {"中子B退", "Neu B O", "中子B退"},
    {"中子C进", "Neu C I", "中子C進"},     {"中子C退", "Neu C O", "中子C退"},
    {"允许绞牙", "Al thread", "允許絞牙"}, {"允许旋转", "Rot", "允許旋轉"},
    {"允许左移", "L shift", "允許左移"},   {"允许右移", "R shift", "允許右移"},
    {"允许移模", "Mov mol", "允許移模"},   {"机手动作", "Mac mov", "機手動作"},
    {"开模到位", "Mol op", "開模到位"},    {"安全门关", "clo door", "安全門關"},
};

QString pick(const Name &n)
{
    switch (gLanguage) {
    case 0:
        return QString::fromUtf8(n.zh);
    case 2:
        return QString::fromUtf8(n.tw);
    default:
        return QString::fromUtf8(n.en);
    }
}

} // namespace

QString ioInputName(int index)
{
    return index >= 0 && index < kIoNameCount ? pick(kInputs[index]) : QString();
}

QString ioOutputName(int index)
{
    return index >= 0 && index < kIoNameCount ? pick(kOutputs[index]) : QString();
}

int validIoNameIndex(int index, int fallback)
{
    return index >= 0 && index < kIoNameCount ? index : fallback;
}
