// SPDX-License-Identifier: MIT
#include "core/variant.h"

namespace bench {
namespace {

std::string declaration(const char* function, const char* countName) {
    return std::string("Declare Function ") + function +
           " Lib \"Regwire.dll\" (ByVal PortID As Long, ByVal Addr As Long, ByVal MAddr As Long, "
           "ByVal " +
           countName + " As Long, buffer As Long) As Long";
}

const std::string kInstallNote =
    "本动态链接库\"REGWIRE.DLL\"文件可以直接用VB ,C, LABVIEW调用，读回数据可以直接使用，"
    "不用再做处理，不用使用MSCOM控件或VISA串口。把文件REGWIRE.DLL 和PCOMM.DLL文件直接复制到"
    "C:WINDOWS\\SYSTEM32目录即可。";

VariantFacts makeWord16() {
    return VariantFacts{"ssqx16",
                        "wordbench",
                        "Corvanta： 16位整数测试",
                        14265,
                        10695,
                        1,
                        "Get_4X_DX",
                        "Set_4X_DX",
                        declaration("Get_4X_DX", "PB"),
                        declaration("Set_4X_DX", "V1"),
                        kInstallNote + "注意MODBUS 地址加一"};
}

VariantFacts makeLong32() {
    return VariantFacts{"ssqx",
                        "longbench",
                        "Corvanta： 32位整数测试",
                        14175,
                        10695,
                        2,
                        "Get_4X_LDX",
                        "Set_4X_LDX",
                        declaration("Get_4X_LDX", "PB"),
                        declaration("Set_4X_LDX", "V1"),
                        kInstallNote};
}

}  // namespace

const VariantFacts& variantFacts(Variant variant) {
    static const VariantFacts word16 = makeWord16();
    static const VariantFacts long32 = makeLong32();
    return variant == Variant::Word16 ? word16 : long32;
}

}  // namespace bench
