#pragma once
// The demo device's descriptor and its journal, decoded as the journal page
// does (newest first), for the event report's tests.
#include "uDemoDevice.h"
#include "uDevSimFiles.h"
#include "uEventLogItem.h"
#include "uSimDevice.h"
#include "uSimpleDeviceDescriptor.h"

#include <QBuffer>
#include <memory>

struct TDemoJournal {
  TSimpleDeviceDescriptor Desc;
  TEventLogItems Items;

  TDemoJournal() {
    TSimDevice device;
    LoadDemoDevice(device);
    QByteArray image = device.FileBytes(SimFileDescriptor);
    QBuffer b(&image);
    b.open(QIODevice::ReadOnly);
    Desc.LoadFromStream(b);
    auto layout = std::make_shared<TEventLayout>();
    layout->SetDescriptor(Desc.Root, QStringLiteral("-"));
    Items = DecodeEventRecords(device.FileBytes(SimFileEventRing), layout);
    OrderEventRing(Items);
    for (const TEventLogItemPtr &item : Items)
      item->MakeMeasureTexts(false);
  }
};
