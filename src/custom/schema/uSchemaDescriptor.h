#pragma once
// What the logic schema needs of the design-time device descriptor: channel
// groups of the hardware-bound blocks, setpoint, parameter and event lookups,
// and the descriptor's own node in a schema file. The descriptor model
// implements it and installs its node reader; the schema keeps no other tie to
// it, so it builds and is tested on its own.
#include "ixml.h"

#include <functional>
#include <memory>

class TDDUstav;
class TDDParam;
class TDDEvent;

class TSchemaDescriptor {
public:
  virtual ~TSchemaDescriptor() = default;
  // Items of the bit-register group of a hardware kind: 1 discrete inputs,
  // 2 relays, 3 LEDs, 4 virtual inputs, 5 virtual outputs.
  virtual int ChannelCount(int Kind) const = 0;
  // True when an item of that group carries Number.
  virtual bool HasChannel(int Kind, int Number) const = 0;
  // Lookups scan the whole list and return the last match; nullptr when none.
  virtual TDDUstav *FindUstavById(int Ider) const = 0;
  virtual TDDParam *FindParamById(int Ider) const = 0;
  virtual TDDEvent *FindEventByNumber(int Number) const = 0;
  virtual int UstavIder(const TDDUstav *Ustav) const = 0;
  virtual int ParamIder(const TDDParam *Param) const = 0;
  virtual int EventNumber(const TDDEvent *Event) const = 0;
  virtual bool IsModified() const = 0;
  virtual void SetModified(bool Value) = 0;
  // Writes the descriptor into the schema file's `device-descriptor` node.
  virtual void SaveToNode(const IXXMLNode &Node) = 0;
  // The root module that read the descriptor from its file.
  virtual void SetHost(void *Module) {}
};

using TSchemaDescriptorPtr = std::shared_ptr<TSchemaDescriptor>;
// Reads a `device-descriptor` node; throws on a malformed one.
using TSchemaDescriptorReader = std::function<TSchemaDescriptorPtr(const IXXMLNode &Node)>;

// The reader the schema file uses; without one a schema's descriptor node is
// not read. Returns the previous reader.
TSchemaDescriptorReader SetSchemaDescriptorReader(TSchemaDescriptorReader Reader);
const TSchemaDescriptorReader &SchemaDescriptorReader();
