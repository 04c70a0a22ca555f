#pragma once
// The small configuration the ".dat" fuzz target and its seed writer share:
// Analog analog channels (factor 1) and Digital digital ones, one rate of
// 1800 samples/s ending at EndSample.
#include "uComtrade.h"

inline void SmallDatConfig(TComtradeConfig &Config, int Analog, int Digital, int EndSample) {
  TComtradeConfigTool Tool;
  Tool.SetConfig(&Config);
  for (int c = 0; c < Analog; ++c) {
    TComtradeAnalogChannel A;
    A.An = c + 1;
    A.A = 1.0;
    Tool.AddAnalogChannel(A);
  }
  for (int c = 0; c < Digital; ++c) {
    TComtradeDigitalChannel D;
    D.Dn = c + 1;
    Tool.AddDigitalChannel(D);
  }
  Tool.SetRateCount(1);
  Tool.SetRateSamples(0, 1800.0);
  Tool.SetRateEndSample(0, EndSample);
}
