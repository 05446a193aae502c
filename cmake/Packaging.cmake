# Install rules for the manual pages and the Debian package (CPack).
