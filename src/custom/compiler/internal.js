// Framework of the logic code generator. The library's prepare and internal
// scripts define global, elements, asmList, debugList, local, prologue and
// epilogue, and one function per function id; "param.js" defines data. main
// runs the function of every element and writes "generated.asm" (the lines
// of asmList) and "generated.log" (the lines of debugList).
var __global = this;
var param;

function arrayToStringLF(a) {
  var s = "";
  for (var i = 0; i < a.length; i++)
    s += a[i] + "\n";
  return s;
}

function values(list, names) {
  var out = [];
  if (!list)
    return out;
  for (var i = 0; i < list.length; i++) {
    var item = list[i], o = {};
    if (item instanceof Array) {
      for (var k = 0; k < names.length; k++)
        o[names[k]] = item[k];
    } else {
      o[names[0]] = item;
    }
    out.push(o);
  }
  return out;
}

function Element(e) {
  this.type = e.type;
  this.func = __global[e.type];
  this.index = e.index;
  this.groupIndex = e.groupIndex;
  this.caption = e.caption ? e.caption : e.type;
  this.varc = e.varc;
  this.vara = e.vara;
  this.input = values(e.ipina, ["value", "invert"]);
  this.output = values(e.opina, ["value", "invert", "ecode", "eedge"]);
  for (var i = 0; e.opina && i < e.opina.length; i++)
    global.out.WriteLine("; opina(" + i + ") " + e.opina[i]);
  this.ustav = values(e.ustava, ["value", "measure"]);
  for (i = 0; e.ustava && i < e.ustava.length; i++)
    global.out.WriteLine("; ustav(" + i + ") " + e.ustava[i]);
  this.measure = values(e.measa, ["value"]);
  this.modbus = e.modbus;
  this.modbus_fix = values(e.modbus_fixa, ["value"]);
  this.modbus_usr = values(e.modbus_usra, ["value"]);
  this.flag = values(e.flaga, ["value"]);
  this.mass = e.inaa ? e.inaa : 0xFFFF;
}

Element.prototype.describe = function () {
  var l = ["", "element", "caption=" + this.caption, "type=" + this.type, "index=" + this.index,
           "groupIndex=" + this.groupIndex];
  var i;
  for (i = 0; i < this.input.length; i++)
    l.push("input pin", "  value=" + this.input[i].value + "  invert=" + this.input[i].invert);
  for (i = 0; i < this.output.length; i++)
    l.push("output pin", "  value=" + this.output[i].value + "  invert=" + this.output[i].invert);
  if (this.modbus > 0)
    l.push("modbus=" + this.modbus);
  if (this.varc > 0)
    l.push("varc=" + this.varc, "vara=" + this.vara);
  if (this.ustav.length > 0) {
    l.push("ustav.length=" + this.ustav.length);
    for (i = 0; i < this.ustav.length; i++)
      l.push("[" + i + "]" + this.ustav[i].value + "," + this.ustav[i].measure);
  }
  return l.join("\n");
};

function set(name, value) {
  local[name] = "" + value;
}

function substlg(s) {
  if (Object.prototype.hasOwnProperty.call(local, s))
    return local[s];
  if (Object.prototype.hasOwnProperty.call(global, s)) {
    var v = global[s];
    return typeof v == "function" ? v() : v;
  }
  return s;
}

function asm(s) {
  var lines = ("" + s).split("\n");
  var re = /\s*((\w+)\s*\:)?\s*(\w+)?\s*(\w+)?\s*(,\s*(\w+))?\s*(;.*)?/;
  for (var i = 0; i < lines.length; i++) {
    var line = lines[i];
    var m = re.exec(line);
    // A group that took no part reads "".
    var label = m[2] ? substlg(m[2]) : "", op = m[3] ? substlg(m[3]) : "";
    var a1 = m[4] ? substlg(m[4]) : "", a2 = m[6] ? substlg(m[6]) : "", comment = m[7] ? m[7] : "";
    debugList.push(label + "|" + op + "|" + a1 + "|" + a2 + "|" + comment + "|");
    var tail = "  " + comment;
    if (!op && !label)
      asmList.push(line);
    else if (!op)
      asmList.push(label + ":" + "      " + tail);
    else
      asmList.push((label ? label + ":" : " ") + "  " + op + "  " + a1 + (a2 ? "," + a2 : "") + "    " + tail);
  }
}

function main(sparam) {
  param = eval("(" + sparam + ")");
  var fso = new ActiveXObject("Scripting.FileSystemObject");
  var out = fso.CreateTextFile("out.txt", true);
  var sram = fso.CreateTextFile("sram.txt", true);
  global.out = out;
  var count = 0;
  try {
    out.WriteLine("; " + sparam);
    asmList.push("; generated " + new Date());
    for (var i = 0; i < data.ela.length; i++) {
      var el = new Element(data.ela[i]);
      elements.push(el);
      debugList.push(el.describe());
    }
    asmList.push(";;element prologue");
    local = {};
    prologue();
    for (i = 0; i < elements.length; i++) {
      el = elements[i];
      asmList.push("\n;;element " + el.type + " gi=" + el.groupIndex + " i=" + el.index);
      local = {};
      try {
        el.func(el);
        count++;
      } catch (e) {
        asmList.push("Exception catched in function: " + el.type);
        asmList.push("Description: " + e.description);
      }
    }
    asmList.push(";;element epilogue");
    epilogue();
  } finally {
    out.WriteLine("\tret");
    out.WriteLine("; Total prepared " + count);
    out.Close();
    sram.Close();
    var f = fso.CreateTextFile("generated.asm", true);
    f.Write(arrayToStringLF(asmList));
    f.Close();
    f = fso.CreateTextFile("generated.log", true);
    f.Write(arrayToStringLF(debugList));
    f.Close();
  }
}
