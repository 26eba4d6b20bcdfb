// PLACEHOLDER: Java runtime discovery comes here.
