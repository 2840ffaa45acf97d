// SPDX-License-Identifier: MIT
#include "widgets/control_table.h"

namespace bench {

std::vector<ControlRow> controlTable(Variant variant) {
    const VariantFacts& facts = variantFacts(variant);
    using K = ControlKind;
    using L = Look;
    return {
        // Connection row, with the date and time of the last poll.
        {"Label2_9", K::Label, nullptr, 11190, 0, 1365, 285, "2001-03-12", 0, L::Clock},
        {"Label2_10", K::Label, nullptr, 12660, 0, 1365, 285, "18：42：00", 1, L::Clock},
        {"Frame6", K::Frame, nullptr, 90, 270, 2685, 585, "通讯端口选择", 6, L::RedCaption},
        {"Label1_0", K::Label, "Frame6", 120, 240, 795, 195, "通讯端口", 8, L::Plain},
        {"Combo1", K::Combo, "Frame6", 990, 210, 1455, 300, " ", 7, L::Plain},
        {"Frame1", K::Frame, nullptr, 2850, 270, 2565, 585, "通讯速度选择", 13, L::RedCaption},
        {"Label1_2", K::Label, "Frame1", 120, 240, 795, 195, "通讯速度", 15, L::Plain},
        {"Combo3", K::Combo, "Frame1", 990, 210, 1335, 300, " ", 14, L::Plain},
        {"Frame5_1", K::Frame, nullptr, 5460, 270, 3255, 585, "校验方式", 2, L::RedCaption},
        {"Option2_0", K::Option, "Frame5_1", 120, 180, 975, 285, "无校验", 3, L::Plain},
        {"Option2_1", K::Option, "Frame5_1", 1200, 180, 885, 315, "奇校验", 4, L::Plain},
        {"Option2_2", K::Option, "Frame5_1", 2250, 180, 915, 315, "偶校验", 5, L::Plain},
        {"Frame2", K::Frame, nullptr, 8790, 270, 2685, 585, "设备地址选择", 16, L::RedCaption},
        {"Label1_1", K::Label, "Frame2", 120, 240, 795, 195, "设备地址", 18, L::Plain},
        {"Combo2", K::Combo, "Frame2", 990, 210, 1455, 300, " ", 17, L::Plain},
        {"Command9", K::Button, nullptr, 11550, 420, 1095, 405, "打开", 9, L::Plain},
        {"Command10", K::Button, nullptr, 12705, 420, 1095, 405, "关闭", 10, L::Plain},

        // Read test.
        {"Label8", K::Label, nullptr, 240, 990, 855, 255, "读测试：", 21, L::Plain},
        {"Label9_0", K::Label, nullptr, 210, 1290, 945, 255, "读数据个数", 22, L::Plain},
        {"Text1", K::Text, nullptr, 1170, 1260, 975, 285, "1", 19, L::Plain},
        {"Label9_1", K::Label, nullptr, 2460, 1290, 1335, 255, "起始寄存器地址", 23, L::Plain},
        {"Text2", K::Text, nullptr, 3840, 1260, 975, 285, "1", 24, L::Plain},
        {"Command3", K::Button, nullptr, 4890, 1200, 825, 345, "开始读", 25, L::Plain},
        {"MSFlexGrid1", K::Grid, nullptr, 150, 1560, 6915, 6945, "", 20, L::Grid},

        // Write test.
        {"Label3", K::Label, nullptr, 7260, 990, 855, 255, "写测试：", 32, L::Plain},
        {"Label11", K::Label, nullptr, 8850, 990, 5190, 255,
         "选好写数量后，单击表格第1列任一单元输入数据，回车键确认", 48, L::BlueText},
        {"Label9_3", K::Label, nullptr, 7230, 1290, 945, 255, "写数据个数", 31, L::Plain},
        {"Text4", K::Text, nullptr, 8190, 1260, 975, 285, "1", 29, L::Plain},
        {"Label9_2", K::Label, nullptr, 9480, 1290, 1335, 255, "起始寄存器地址", 30, L::Plain},
        {"Text3", K::Text, nullptr, 10860, 1260, 975, 285, "1", 27, L::Plain},
        {"Command2", K::Button, nullptr, 11910, 1200, 825, 345, "写入", 26, L::Plain},
        {"Command1", K::Button, nullptr, 13200, 1200, 825, 345, "退出", 11, L::ExitFont},
        {"Text5", K::Text, nullptr, 6240, 1020, 915, 285, "", 33, L::Editor},
        {"MSFlexGrid2", K::Grid, nullptr, 7170, 1560, 6915, 6915, "", 28, L::Grid},

        // Help area.
        {"Label4", K::Label, nullptr, 180, 8550, 2295, 255, "32位整数读写函数说明：", 34, L::Plain},
        {"Label6_0", K::Label, nullptr, 150, 8820, 13995, 285, facts.readDeclaration, 35, L::Plain},
        {"Label7_0", K::Label, nullptr, 5040, 9060, 945, 255, "通讯端口号", 36, L::RedText},
        {"Label7_1", K::Label, nullptr, 6870, 9060, 945, 255, "访问站地址", 37, L::RedText},
        {"Label7_2", K::Label, nullptr, 8310, 9060, 1815, 345, "MODBUS寄存器起始地址", 38,
         L::RedText},
        {"Label7_3", K::Label, nullptr, 10440, 9060, 945, 255, "读取数量", 39, L::RedText},
        {"Label7_4", K::Label, nullptr, 11910, 9060, 1275, 255, "返回数据数组", 40, L::RedText},
        {"Label6_1", K::Label, nullptr, 150, 9450, 13995, 285, facts.writeDeclaration, 41,
         L::Plain},
        {"Label7_5", K::Label, nullptr, 5040, 9690, 945, 255, "通讯端口号", 42, L::RedText},
        {"Label7_6", K::Label, nullptr, 6870, 9690, 945, 255, "访问站地址", 43, L::RedText},
        {"Label7_7", K::Label, nullptr, 8310, 9690, 1815, 345, "MODBUS寄存器起始地址", 44,
         L::RedText},
        {"Label7_8", K::Label, nullptr, 10440, 9690, 1155, 255, "写入数量数量", 45, L::RedText},
        {"Label7_9", K::Label, nullptr, 11910, 9690, 1275, 255, "写入数据数组", 46, L::RedText},
        {"Label10", K::Label, nullptr, 390, 10170, 13395, 375, facts.installNote, 47, L::Plain},
    };
}

}  // namespace bench
