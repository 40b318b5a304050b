// Version text shared by the tool programs (orvale-k41gen, orvale-headsim).
const char* ToolsVersion() { return ORVALE_VERSION; }
