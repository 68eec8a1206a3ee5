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

// Whether this copy takes a test switch (--anchors, which replaces the
// compiled-in anchors): only one outside an installed bundle, as the build
// tree's is. A copy in a bundle's Contents/Helpers trusts its own anchors
// alone, whoever writes its command line, as every installed program
// ignores the test switches (see Config::testSwitch).
bool honoursTestSwitches();
