#pragma once
// The link commands every instrument answers: the probe 'B' and the speed change 'b'.

class TVirtualInstrument;

void installLinkCommands(TVirtualInstrument &instrument);
