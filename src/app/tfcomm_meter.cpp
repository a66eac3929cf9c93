// Live display: decoder and LCD panel, gauge, limits, chart panel.
#include "app/tfcomm.h"

void TFCOMM::BindMeterHandlers() {}
void TFCOMM::StartupResetChart() {}
void TFCOMM::StartupSeriesSelector() {}
void TFCOMM::StartupChartAxis() {}
void TFCOMM::StartupGauge() {}
void TFCOMM::LcdDisplay42() {}
void TFCOMM::Button4Click() {}
void TFCOMM::KDsetup() {}
void TFCOMM::KDrun(int32_t) {}
void TFCOMM::KdFdClick() {}
void TFCOMM::SetmaxExit() {}
void TFCOMM::SetMinExit() {}
void TFCOMM::SetmaxKeyPress(QObject*, char&) {}
void TFCOMM::ResetChartSeries() {}
void TFCOMM::ShowSeries(int32_t) {}
void TFCOMM::ComboBox1Change() {}
void TFCOMM::BtNewClick() {}
void TFCOMM::BtSaveClick() {}
void TFCOMM::TbFdClick() {}
void TFCOMM::BtFirstClick() {}
void TFCOMM::BTPreviousClick() {}
void TFCOMM::BtNextClick() {}
void TFCOMM::BTlastClick() {}
void TFCOMM::OnescopeClick() {}
void TFCOMM::MaxrecordExit() {}
