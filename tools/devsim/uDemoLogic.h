#pragma once
// The demo terminal's logic package, the six files its external FLASH (file
// 140) carries: the built-in instruction table, the project's function
// library, the firmware identifier listing, the base logic with the
// design-time descriptor and two custom units, and the initial and current
// custom logic. Written here from the schema file format, not by the
// program's schema model.
#include <QByteArray>
#include <array>

struct TDeviceContent;

// Content of the custom units, the same in both custom logic documents.
namespace DemoLogic {
// Blocks of the base logic the units reach: the labels fed by the input
// module, the module whose inputs are tied to constants, the two units.
constexpr int InputsModule = 1, LabelIn1 = 2, LabelIn2 = 3, Zero = 4, One = 5, OutputsModule = 6;
constexpr int Unit1 = 7, Unit2 = 8;
// The setpoints (iders) flagged custom in the base logic's descriptor.
constexpr int CustomUstav1 = 1, CustomUstav2 = 2;
} // namespace DemoLogic

// The base logic "logic.xml" of Content's descriptor (Windows-1251 schema file).
QByteArray DemoBaseLogicXml(const TDeviceContent &Content);
// "custom-logic0.xml": both units, no name tables.
QByteArray DemoInitialCustomLogicXml();
// "custom-logic.xml": both units and the name tables that rename the first
// inputs, relays and LEDs and the first setpoint. Unit 2 of the demo type
// (another relay of the line-up) has its first unit captioned "Блок Б-2"
// instead of "Блок 1".
QByteArray DemoCustomLogicXml(int Unit = 1);
// The six sub-file contents in their order, of demo unit Unit.
std::array<QByteArray, 6> DemoLogicPackage(const TDeviceContent &Content, int Unit = 1);
