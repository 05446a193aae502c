#include "progress/fill_meter.h"

namespace tessaro {

namespace {

thread_local FillMeter* t_meter = nullptr;

}  // namespace

FillMeter* CurrentFillMeter() { return t_meter; }

FillMeterScope::FillMeterScope(FillMeter* meter) : previous_(t_meter) { t_meter = meter; }

FillMeterScope::~FillMeterScope() { t_meter = previous_; }

}  // namespace tessaro
