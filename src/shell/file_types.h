// The product's file types and its uninstall entry in the registry.
#pragma once

void RegisterFileTypes(void);
void UnregisterFileTypes(void);
