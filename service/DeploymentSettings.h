#pragma once

#include <QString>

// Where the services of this deployment live. Each value comes from the first of:
//   1. the environment: ORVEL_UPDATE_SERVICE_URL, ORVEL_ACCOUNT_SERVICE_URL, ORVEL_CONNECT_URL,
//      ORVEL_CA_CERTIFICATES (set and not empty);
//   2. the first deployment.ini found beside the launcher program, then in "orvel/" under $XDG_CONFIG_DIRS
//      (/etc/xdg/orvel/ by default): section [services], keys update, account, connect, caCertificates (a relative
//      caCertificates path is taken from the file's folder);
//   3. the defaults compiled in from the CMake cache variables of the environment variables' names.
// The two base URLs always end with "/"; the connect page is used as given.
class DeploymentSettings
{
public:
    // The settings of the launcher program in `programDir`, with the current environment.
    static DeploymentSettings load(const QString& programDir);
    // Loaded once, from the running program's folder.
    static const DeploymentSettings& current();

    QString updateServiceUrl() const { return m_updateServiceUrl; }
    QString accountServiceUrl() const { return m_accountServiceUrl; }
    QString connectUrl() const { return m_connectUrl; }
    QString caCertificatesPath() const { return m_caCertificatesPath; }

    // Adds the certificates of caCertificatesPath() (PEM) to QSslConfiguration::defaultConfiguration(), keeping
    // the system's own roots; each file only once per process. True when nothing is to add or it was added;
    // false when the file is missing or holds no certificate. SSL errors are never ignored either way.
    bool installCaCertificates() const;

    // Start-up network setup, once per process: the system's proxy configuration and the extra CA certificates.
    static void applyToProcess();
    // With extra CA certificates configured, installing them means parsing the system's whole root bundle, a
    // noticeable part of the launcher's start-up: this starts that on a worker thread, and installCaCertificates()
    // then takes its result. Call it early, on the thread that later installs the certificates.
    void preloadSystemCaCertificates() const;

private:
    QString m_updateServiceUrl;
    QString m_accountServiceUrl;
    QString m_connectUrl;
    QString m_caCertificatesPath;
};
