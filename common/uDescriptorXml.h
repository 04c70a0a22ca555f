#pragma once
// Vocabulary of the run-time device descriptor XML (root "device-descriptor"):
// the element names, the record types of the binary image they come from, and
// the queries every reader shares. Every value is a child element with text,
// never an attribute; integers are decimal; 65535 means "none" for registers
// and addresses. The decoder writes these, pages and reports query them.
#include <QString>
#include <cstdint>
#include <initializer_list>

// ---- files
inline constexpr char DX_FILE_DEVICE_DESCRIPTOR[] = "DeviceDescriptor.xml"; // loaded after identification
inline constexpr char DX_FILE_DEVICE_DESCRIPTOR_BIN[] = "DeviceDescriptor.bin";
inline constexpr char DX_FILE_DESC[] = "desc.xml"; // written by the report command
inline constexpr char DX_CACHE_FOLDER[] = "cache";
// The cache file of an image: 8 upper-case hexadecimal digits of its
// identifier + ".xml", as the identification writes it.
inline QString DescriptorCacheFileName(uint32_t Ident) {
  return QString::number(Ident, 16).toUpper().rightJustified(8, '0') + ".xml";
}

// ---- "none" for registers and addresses
inline constexpr int DX_NONE = 65535;

// ---- sections (children of the root, in this order when present)
inline constexpr char DX_ROOT[] = "device-descriptor";
inline constexpr char DX_MEASURE[] = "measure";
inline constexpr char DX_PARAM[] = "param";
inline constexpr char DX_USTAV[] = "ustav";
inline constexpr char DX_EVENT[] = "event";
inline constexpr char DX_OSC[] = "osc";
inline constexpr char DX_INTERNAL[] = "internal";

// ---- object elements
inline constexpr char DX_MEASURE_ITEM[] = "measure-item";       // under measure
inline constexpr char DX_INPUT_OUTPUT[] = "input-output";       // under param
inline constexpr char DX_PARAM_BITREG[] = "param-bitreg";       // under param/input-output
inline constexpr char DX_PARAM_DDO_DATE[] = "param-ddo-date";   // under param
inline constexpr char DX_PARAM_DDO_STATUS[] = "param-ddo-status";
inline constexpr char DX_PARAM_ENUM[] = "param-enum";
inline constexpr char DX_PARAM_NUM[] = "param-num";
inline constexpr char DX_PARAM_NUMMVP[] = "param-nummvp";
inline constexpr char DX_PARAM_NUMMVS[] = "param-nummvs";
inline constexpr char DX_PARAM_CHAR[] = "param-char";
inline constexpr char DX_USTAV_LEVEL[] = "ustav-level";         // under ustav
inline constexpr char DX_USTAV_ENUM[] = "ustav-enum";
inline constexpr char DX_USTAV_NUM[] = "ustav-num";
inline constexpr char DX_GROUP_MREG[] = "group-mreg";           // under ustav, text only
inline constexpr char DX_EVENT_LEVEL[] = "event-level";         // under event
inline constexpr char DX_EVENT_MEASURE[] = "event-measure";
inline constexpr char DX_EVENT_BITREG[] = "event-bitreg";
inline constexpr char DX_EVENT_ITEM[] = "event-item";
inline constexpr char DX_OSC_MEASURE[] = "osc-measure";         // under osc
inline constexpr char DX_OSC_BITREG[] = "osc-bitreg";

// ---- value elements
inline constexpr char DX_MREG[] = "mreg";                 // register 0..1023; a setpoint's mreg[2]: next group
inline constexpr char DX_WORD_COUNT[] = "word-count";
inline constexpr char DX_MODBUS_ACC[] = "modbus-acc";
inline constexpr char DX_MODBUS_FLASH[] = "modbus-flash";
inline constexpr char DX_MODBUS_SRAM[] = "modbus-sram";
inline constexpr char DX_MODBUS_EEPROM[] = "modbus-eeprom";
inline constexpr char DX_RECORD_TYPE[] = "record-type";
inline constexpr char DX_IDER[] = "ider";
inline constexpr char DX_SHORT_STRING[] = "short-string";
inline constexpr char DX_STRING[] = "string";             // without ider: full name; with ider: one value
inline constexpr char DX_VALUE[] = "value";               // of a string with ider
inline constexpr char DX_CAPTION[] = "caption";
inline constexpr char DX_MVP_ADDR[] = "mvp-addr";
inline constexpr char DX_MVP_MULT[] = "mvp-mult";
inline constexpr char DX_MVS_ADDR[] = "mvs-addr";
inline constexpr char DX_MVS_DIV[] = "mvs-div";
inline constexpr char DX_MVP_MREG[] = "mvp-mreg";         // absent when none
inline constexpr char DX_MVS_MREG[] = "mvs-mreg";         // absent when none
inline constexpr char DX_BYTE_VISIBLE[] = "byte-visible";         // 0 or 2
inline constexpr char DX_BYTE_DOPCODE[] = "byte-dopcode";         // 0 or 4 (4: signed value)
inline constexpr char DX_BYTE_OFFSET_FLAG[] = "byte-offset-flag"; // 0 or 8 (8: word-offset present)
inline constexpr char DX_WORD_OFFSET[] = "word-offset";
inline constexpr char DX_CCADDR[] = "ccaddr";
inline constexpr char DX_CCVALUE[] = "ccvalue";
inline constexpr char DX_WORD_KOEF[] = "word-koef";
inline constexpr char DX_WORD_MIN[] = "word-min";
inline constexpr char DX_WORD_MAX[] = "word-max";
inline constexpr char DX_BYTE_VALUE[] = "byte-value";
inline constexpr char DX_BYTE_PASSWD_CHAR[] = "byte-passwd-char";
inline constexpr char DX_BYTE_LEVEL_MASK[] = "byte-level-mask";
inline constexpr char DX_WORD_MEASURE_IDER[] = "word-measure-ider";
inline constexpr char DX_MEASURE_IDER[] = "measure-ider";
inline constexpr char DX_MEASURE_SRAM[] = "measure-sram";
inline constexpr char DX_MEASURE_OFF[] = "measure-off";
inline constexpr char DX_BITREG_RECORD_TYPE[] = "bitreg-record-type";
inline constexpr char DX_FAILURE_FLAG[] = "failure-flag";
inline constexpr char DX_BYTE_CODE[] = "byte-code";
inline constexpr char DX_CORE_DATE[] = "core-date";       // under internal: day count
inline constexpr char DX_DESC_DATE[] = "desc-date";       // under internal: day count
inline constexpr char DX_CALIBR_ADDR[] = "calibr-addr";
inline constexpr char DX_IDENT_CACHE[] = "ident-cache";   // CRC-32 of "identification.inc"

// Every element name above, for checks that a document speaks the vocabulary.
inline constexpr const char *DX_ELEMENT_NAMES[] = {
    DX_ROOT, DX_MEASURE, DX_PARAM, DX_USTAV, DX_EVENT, DX_OSC, DX_INTERNAL, DX_MEASURE_ITEM, DX_INPUT_OUTPUT,
    DX_PARAM_BITREG, DX_PARAM_DDO_DATE, DX_PARAM_DDO_STATUS, DX_PARAM_ENUM, DX_PARAM_NUM, DX_PARAM_NUMMVP,
    DX_PARAM_NUMMVS, DX_PARAM_CHAR, DX_USTAV_LEVEL, DX_USTAV_ENUM, DX_USTAV_NUM, DX_GROUP_MREG,
    DX_EVENT_LEVEL, DX_EVENT_MEASURE, DX_EVENT_BITREG, DX_EVENT_ITEM, DX_OSC_MEASURE, DX_OSC_BITREG, DX_MREG,
    DX_WORD_COUNT, DX_MODBUS_ACC, DX_MODBUS_FLASH, DX_MODBUS_SRAM, DX_MODBUS_EEPROM, DX_RECORD_TYPE, DX_IDER,
    DX_SHORT_STRING, DX_STRING, DX_VALUE, DX_CAPTION, DX_MVP_ADDR, DX_MVP_MULT, DX_MVS_ADDR, DX_MVS_DIV,
    DX_MVP_MREG, DX_MVS_MREG, DX_BYTE_VISIBLE, DX_BYTE_DOPCODE, DX_BYTE_OFFSET_FLAG, DX_WORD_OFFSET,
    DX_CCADDR, DX_CCVALUE, DX_WORD_KOEF, DX_WORD_MIN, DX_WORD_MAX, DX_BYTE_VALUE, DX_BYTE_PASSWD_CHAR,
    DX_BYTE_LEVEL_MASK, DX_WORD_MEASURE_IDER, DX_MEASURE_IDER, DX_MEASURE_SRAM, DX_MEASURE_OFF,
    DX_BITREG_RECORD_TYPE, DX_FAILURE_FLAG, DX_BYTE_CODE, DX_CORE_DATE, DX_DESC_DATE, DX_CALIBR_ADDR,
    DX_IDENT_CACHE,
};

// A path of vocabulary names: DxPath({DX_INTERNAL, DX_CORE_DATE}) is "internal/core-date".
inline QString DxPath(std::initializer_list<const char *> Names) {
  QString path;
  for (const char *n : Names) {
    if (!path.isEmpty())
      path += u'/';
    path += QLatin1String(n);
  }
  return path;
}

// Readers compare byte-dopcode with this (signed value) and byte-offset-flag with 0.
inline constexpr int DX_DOPCODE_SIGNED = 4;
inline constexpr int DX_OFFSET_FLAG_SET = 8;
inline constexpr int DX_VISIBLE_SET = 2;

// ---- record types of the image records behind the elements
enum TDescRecordType : int {
  RT_MEASURE_ITEM = 1,
  RT_BITREG_INPUTS = 17,
  RT_BITREG_RELAYS = 18,
  RT_BITREG_LEDS = 19,
  RT_BITREG_VIRTUAL_INPUTS = 20,
  RT_BITREG_VIRTUAL_OUTPUTS = 21,
  RT_PARAM_DDO_DATE = 29,
  RT_PARAM_DDO_STATUS = 30,
  RT_PARAM_ENUM = 33,
  RT_PARAM_NUM = 34,
  RT_PARAM_CHAR = 36,
  RT_PARAM_NUMMVP = 38,
  RT_PARAM_NUMMVS = 39,
  RT_USTAV_ENUM = 49,
  RT_USTAV_NUM = 50,
  RT_USTAV_ENUM2 = 53,
  RT_EVENT_MEASURE = 65,
  RT_EVENT_BITREG = 66,
  RT_EVENT_ITEM = 67,
  RT_EVENT_ITEM_FAILURE = 68,
  RT_OSC_MEASURE = 81,
  RT_OSC_BITREG = 82,
};

// The element a record type becomes; nullptr for a type the descriptor has no element for.
inline const char *DescElementOfRecordType(int RecordType) {
  switch (RecordType) {
  case RT_MEASURE_ITEM: return DX_MEASURE_ITEM;
  case RT_BITREG_INPUTS:
  case RT_BITREG_RELAYS:
  case RT_BITREG_LEDS:
  case RT_BITREG_VIRTUAL_INPUTS:
  case RT_BITREG_VIRTUAL_OUTPUTS: return DX_PARAM_BITREG;
  case RT_PARAM_DDO_DATE: return DX_PARAM_DDO_DATE;
  case RT_PARAM_DDO_STATUS: return DX_PARAM_DDO_STATUS;
  case RT_PARAM_ENUM: return DX_PARAM_ENUM;
  case RT_PARAM_NUM: return DX_PARAM_NUM;
  case RT_PARAM_CHAR: return DX_PARAM_CHAR;
  case RT_PARAM_NUMMVP: return DX_PARAM_NUMMVP;
  case RT_PARAM_NUMMVS: return DX_PARAM_NUMMVS;
  case RT_USTAV_ENUM:
  case RT_USTAV_ENUM2: return DX_USTAV_ENUM;
  case RT_USTAV_NUM: return DX_USTAV_NUM;
  case RT_EVENT_MEASURE: return DX_EVENT_MEASURE;
  case RT_EVENT_BITREG: return DX_EVENT_BITREG;
  case RT_EVENT_ITEM:
  case RT_EVENT_ITEM_FAILURE: return DX_EVENT_ITEM;
  case RT_OSC_MEASURE: return DX_OSC_MEASURE;
  case RT_OSC_BITREG: return DX_OSC_BITREG;
  default: return nullptr;
  }
}

// The group caption of a bit register (record types 17..21); "" for others.
inline QString BitRegCaption(int RecordType) {
  switch (RecordType) {
  case RT_BITREG_INPUTS: return QString::fromUtf8("Дискретные входы");
  case RT_BITREG_RELAYS: return QString::fromUtf8("Реле");
  case RT_BITREG_LEDS: return QString::fromUtf8("Светодиоды");
  case RT_BITREG_VIRTUAL_INPUTS: return QString::fromUtf8("Виртуальные входы");
  case RT_BITREG_VIRTUAL_OUTPUTS: return QString::fromUtf8("Виртуальные выходы");
  default: return QString();
  }
}

// ---- shared queries (relative to the root; %1 is filled with QString::arg)
inline constexpr char DXQ_MAPPED[] = "//*[mreg]";                               // every register-mapped object
inline constexpr char DXQ_MEASURE_BY_IDER[] = "measure/measure-item[ider=%1]";
inline constexpr char DXQ_MEASURE_BY_MREG[] = "measure/measure-item[mreg=%1]";
inline constexpr char DXQ_BITREG_BY_TYPE[] = "param/input-output/param-bitreg[record-type=%1]";
inline constexpr char DXQ_EVENT_LEVEL_TEXT[] = "event/event-level/string[ider=%1]/value";
inline constexpr char DXQ_USTAV_LEVEL_TEXT[] = "ustav/ustav-level/string[ider=%1]/value";
inline constexpr char DXQ_GROUP_MREG[] = "ustav/group-mreg";
inline constexpr char DXQ_NAME[] = "string[not(ider)]";          // an object's full name
inline constexpr char DXQ_VALUE_TEXT[] = "string[ider=%1]/value[1]"; // display text of value %1
inline constexpr char DXQ_VALUE_PLAIN[] = "string[ider=%1]/value[2]"; // plain text of value %1
inline constexpr char DXQ_MAPPED_BY_MREG[] = "//*[mreg=%1]"; // the object at register %1
inline constexpr char DXQ_ALL_MREG[] = "//*/mreg"; // every register element
inline constexpr char DXQ_MEASURE_READABLE[] = "measure/measure-item[modbus-acc=1]";
inline constexpr char DXQ_MEASURE_NAME_BY_MREG[] = "measure/measure-item[mreg=%1]/string";
inline constexpr char DXQ_MEASURE_ANY_BY_MREG[] = "measure/*[mreg=%1]";
inline constexpr char DXQ_MEASURE_BY_FLASH_FROM_SETPOINT[] = "../../measure/measure-item[modbus-flash=%1]"; // from a setpoint element
inline constexpr char DXQ_MEASURE_SCALE_REGS[] = "measure/measure-item/mvp-mreg | measure/measure-item/mvs-mreg";
inline constexpr char DXQ_PARAM_ANY_BY_MREG[] = "param/*[mreg=%1]";
inline constexpr char DXQ_PARAM_NUM_NAME_BY_MREG[] = "param/param-num[mreg=%1]/string";
inline constexpr char DXQ_PARAM_ENUM_BY_MREG[] = "param/param-enum[mreg=%1]";
inline constexpr char DXQ_PARAM_ENUMS_MAPPED[] = "param/param-enum[mreg]";
inline constexpr char DXQ_PARAM_PAGE_ITEMS[] = "param/param-nummvp | param/param-nummvs | param/param-num | param/param-enum | param/param-char"; // what the parameters page lists
inline constexpr char DXQ_PARAM_PASSWORD[] = "param/param-char[byte-passwd-char!=0]";
inline constexpr char DXQ_BITREG_BY_MREG[] = "param/input-output/param-bitreg[mreg=%1]";
inline constexpr char DXQ_BIT_BY_TYPE_AND_IDER[] = "param/input-output/param-bitreg[record-type=%1]/string[ider=%2]";
inline constexpr char DXQ_EVENT_BY_CODE[] = "event/event-item[byte-code=%1]";
inline constexpr char DXQ_EVENT_LEVELS_NAMED[] = "event/event-level/string[ider and value]";
inline constexpr char DXQ_EVENT_WORD_COUNTS[] = "event/event-measure/word-count | event/event-bitreg/word-count";
inline constexpr char DXQ_USTAV_BY_IDER[] = "ustav/*[ider=%1]";
inline constexpr char DXQ_USTAV_NAME_BY_IDER[] = "ustav/*[ider=%1]/string[not(ider)]";
inline constexpr char DXQ_USTAV_MAPPED[] = "ustav/*[mreg]";
inline constexpr char DXQ_USTAV_BY_LEVEL[] = "ustav/*[byte-level-mask=%1]";
inline constexpr char DXQ_USTAV_SETPOINTS[] = "ustav/*[name()=\"ustav-num\" or name()=\"ustav-enum\" ]";
inline constexpr char DXQ_USTAV_LEVEL_BY_IDER[] = "ustav/ustav-level/string[ider=%1]";
inline constexpr char DXQ_GROUP_MREG_N[] = "ustav/group-mreg[%1]"; // group %1, from 1
inline constexpr char DXQ_MREG_N[] = "mreg[%1]"; // a setpoint's register in group %1, from 1
inline constexpr char DXQ_VALUE_STRINGS[] = "string[ider]"; // an object's value strings
inline constexpr char DXQ_VALUE_NODES[] = "string[ider]/value";
inline constexpr char DXQ_VALUE_TEXTS[] = "string[ider]/value[1]"; // display texts of the values, in order
inline constexpr char DXQ_VALUE_TEXT_AT[] = "string[ider][%1]/value"; // texts of the %1-th value (from 1)
inline constexpr char DXQ_FIRST_VALUE_TEXTS[] = "string/value[1]";
inline constexpr char DXQ_NAME_FIRST[] = "string[1 and not(ider)]";
inline constexpr char DXQ_FIRST_STRING[] = "string[1]";
inline constexpr char DXQ_FIRST_VALUE[] = "value[1]";
