// PLACEHOLDER: class path assembly comes here.
