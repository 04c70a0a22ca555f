#pragma once
// The design-time device descriptor as the logic schema sees it: channel
// groups of hardware-bound blocks, setpoint, parameter and event lookups, and
// the `device-descriptor` node of schema files.
#include "uSchemaDescriptor.h"

class TDeviceDescriptor;

class TSchemaDeviceDescriptor : public TSchemaDescriptor {
public:
  explicit TSchemaDeviceDescriptor(std::shared_ptr<TDeviceDescriptor> Device);
  TDeviceDescriptor &Device() const { return *FDevice; }
  const std::shared_ptr<TDeviceDescriptor> &DevicePtr() const { return FDevice; }

  // Kind 1..5 is the bit group of record type 16 + Kind.
  int ChannelCount(int Kind) const override;
  bool HasChannel(int Kind, int Number) const override;
  TDDUstav *FindUstavById(int Ider) const override;
  TDDParam *FindParamById(int Ider) const override;
  TDDEvent *FindEventByNumber(int Number) const override;
  int UstavIder(const TDDUstav *Ustav) const override;
  int ParamIder(const TDDParam *Param) const override;
  int EventNumber(const TDDEvent *Event) const override;
  bool IsModified() const override;
  void SetModified(bool Value) override;
  void SaveToNode(const IXXMLNode &Node) override;
  void SetHost(void *Module) override;

private:
  std::shared_ptr<TDeviceDescriptor> FDevice;
};

// Makes schema files read their `device-descriptor` node into a TDeviceDescriptor.
void InstallDeviceDescriptorReader();
// The device descriptor behind a schema's descriptor; nullptr for another kind.
TDeviceDescriptor *DeviceOf(const TSchemaDescriptor *Descriptor);
