#pragma once

// The applets of the multi-call stand-in for the platform's tools. Each
// takes the command line of the tool it stands in for (argv[0] is the
// tool's name) and answers with that tool's exit status and output shapes.
int dittoMain(int argc, char** argv);
int codesignMain(int argc, char** argv);
int auvalMain(int argc, char** argv);
int plistBuddyMain(int argc, char** argv);
int chmodMain(int argc, char** argv);
int killallMain(int argc, char** argv);
int hdiutilMain(int argc, char** argv);
int spctlMain(int argc, char** argv);
int pkgutilMain(int argc, char** argv);
int installerMain(int argc, char** argv);
