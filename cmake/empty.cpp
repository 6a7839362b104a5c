// libvarnelo.so is made of the module libraries; this unit only gives the
// shared-library target a source of its own.
