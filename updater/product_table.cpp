#include "updater/product_table.h"

namespace kalvora {

const ProductEntry kProductTable[kProductCount + 1] = {
    {"Kalvora Alpha 1", "updq1.dat", "ZentrikQ1.exe", "ZENTRIKQ1.EXE"},
    {"Kalvora Alpha 2", "updq2.dat", "ZentrikQ2.exe", "ZENTRIKQ2.EXE"},
    {"Kalvora Alpha 3", "updq3.dat", "ZentrikQ3.exe", "ZENTRIKQ3.EXE"},
    {"Kalvora Beta", "updb.dat", "ZentrikB.exe", "ZENTRIKB.EXE"},
    {"Kalvora Gamma", "updg.dat", "ZentrikG.exe", "ZENTRIKG.EXE"},
    {"Kalvora Delta", "updd.dat", "ZentrikD.exe", "ZENTRIKD.EXE"},
    {"Kalvora Epsilon", "upde.dat", "ZentrikE.exe", "ZENTRIKE.EXE"},
    {"Kalvora Zeta", "updz.dat", "ZentrikZ.exe", "ZENTRIKZ.EXE"},
    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace kalvora
