#include "uSchemaDeviceDescriptor.h"

#include "uDeviceDescriptor.h"

TSchemaDeviceDescriptor::TSchemaDeviceDescriptor(std::shared_ptr<TDeviceDescriptor> Device)
    : FDevice(std::move(Device)) {}

namespace {
const TDDParamBitReg *Group(const TDeviceDescriptor &D, int Kind) {
  return Kind >= 1 && Kind <= 5 ? D.GetBitReg(16 + Kind) : nullptr;
}
} // namespace

int TSchemaDeviceDescriptor::ChannelCount(int Kind) const {
  const TDDParamBitReg *g = Group(*FDevice, Kind);
  return g ? int(g->Bits.size()) : 0;
}

bool TSchemaDeviceDescriptor::HasChannel(int Kind, int Number) const {
  if (const TDDParamBitReg *g = Group(*FDevice, Kind))
    for (const TDDString &bit : g->Bits)
      if (bit.Ider == Number)
        return true;
  return false;
}

TDDUstav *TSchemaDeviceDescriptor::FindUstavById(int Ider) const { return FDevice->FindUstavById(Ider); }
TDDParam *TSchemaDeviceDescriptor::FindParamById(int Ider) const { return FDevice->FindParamById(Ider); }
TDDEvent *TSchemaDeviceDescriptor::FindEventByNumber(int Number) const { return FDevice->FindEventByNumber(Number); }
int TSchemaDeviceDescriptor::UstavIder(const TDDUstav *Ustav) const { return Ustav->Ider; }
int TSchemaDeviceDescriptor::ParamIder(const TDDParam *Param) const { return Param->Ider; }
int TSchemaDeviceDescriptor::EventNumber(const TDDEvent *Event) const { return Event->Code; }
bool TSchemaDeviceDescriptor::IsModified() const { return FDevice->FModified; }
void TSchemaDeviceDescriptor::SetModified(bool Value) { FDevice->SetModified(Value); }
void TSchemaDeviceDescriptor::SaveToNode(const IXXMLNode &Node) { FDevice->SaveToXML(Node); }
void TSchemaDeviceDescriptor::SetHost(void *Module) { FDevice->FHostModule = Module; }

void InstallDeviceDescriptorReader() {
  SetSchemaDescriptorReader([](const IXXMLNode &Node) -> TSchemaDescriptorPtr {
    auto device = std::make_shared<TDeviceDescriptor>();
    device->LoadFromXML(Node);
    return std::make_shared<TSchemaDeviceDescriptor>(device);
  });
}

TDeviceDescriptor *DeviceOf(const TSchemaDescriptor *Descriptor) {
  const auto *d = dynamic_cast<const TSchemaDeviceDescriptor *>(Descriptor);
  return d ? &d->Device() : nullptr;
}
