#include "log_stores/db_replication/replication_statements.h"

#include <cstdio>

namespace log_stores::db_replication {
namespace {

std::string n(std::string_view text) { return n_literal_value(text); }

const char kPublicationOptions[] =
    " logger database.', @retention = 14, @sync_mode = N'native', @allow_push = N'true', @allow_pull = N'true', "
    "@allow_anonymous = N'true', @enabled_for_internet = N'false', @centralized_conflicts = N'true', "
    "@dynamic_filters = N'false', @snapshot_in_defaultfolder = N'true', @compress_snapshot = N'false', "
    "@ftp_port = 21, @conflict_retention = 14, @keep_partition_changes = N'false', "
    "@allow_subscription_copy = N'false', @allow_synctoalternate = N'false', "
    "@add_to_active_directory = N'false', @max_concurrent_merge = 0, @max_concurrent_dynamic_snapshots = 0";

const char kNewerPublicationOptions[] =
    ",@use_partition_groups = null, @publication_compatibility_level = N'90RTM', @replicate_ddl = 1, "
    "@allow_subscriber_initiated_snapshot = N'false', @allow_web_synchronization = N'false', "
    "@allow_partition_realignment = N'true', @retention_period_unit = N'days', @conflict_logging = N'both', "
    "@automatic_reinitialization_policy = 0";

const char kArticleOptions[] =
    "', @type = N'table', @description = null, @status = N'unsynced', @column_tracking = N'true', "
    "@pre_creation_cmd = N'drop', @creation_script = null, @schema_option = 0x000000000000CFF1, "
    "@article_resolver = null, @subset_filterclause = null, @vertical_partition = N'false', "
    "@auto_identity_range = N'false', @verify_resolver_signature = 0, @allow_interactive_resolver = N'false', "
    "@fast_multicol_updateproc = N'true', @check_permissions = 0, @force_invalidate_snapshot = 1";

const char kSubscriptionOptions[] =
    "', @subscription_type = N'push', @subscriber_type = N'local', @subscription_priority = 0.000000, "
    "@sync_type = N'automatic', @frequency_type = 4, @frequency_interval = 1, @frequency_relative_interval = 2, "
    "@frequency_recurrence_factor = 0, @frequency_subday = 4, @frequency_subday_interval = 1, "
    "@active_start_date = 0, @active_end_date = 99991231, @active_start_time_of_day = 0, "
    "@active_end_time_of_day = 235900, @enabled_for_syncmgr = N'false', @offloadagent = 0, "
    "@use_interactive_resolver = N'false'";

}  // namespace

std::string n_literal_value(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}

std::string add_publication(std::string_view publication, std::string_view loggerName) {
    return "exec sp_addmergepublication @publication = N'" + n(publication) +
           "', @description = N'Merge publication of " + n(loggerName) + kPublicationOptions;
}

std::string add_publication_with_options(std::string_view publication, std::string_view loggerName) {
    return add_publication(publication, loggerName) + kNewerPublicationOptions;
}

std::string enable_merge_publish(std::string_view catalog) {
    return "exec sp_replicationdboption @dbname = N'" + n(catalog) +
           "', @optname = N'merge publish', @value = N'true'";
}

std::string add_publication_snapshot(std::string_view publication) {
    return "exec sp_addpublication_snapshot @publication = N'" + n(publication) +
           "',@frequency_type = 1, @frequency_interval = 1, @frequency_relative_interval = 0, "
           "@frequency_recurrence_factor = 1, @frequency_subday = 1, @frequency_subday_interval = 0, "
           "@active_start_date = 20050101, @active_end_date = 99991231, @active_start_time_of_day = 0, "
           "@active_end_time_of_day = 235959";
}

std::string add_article(std::string_view publication, std::string_view word, std::string_view table) {
    return "exec sp_addmergearticle @publication = N'" + n(publication) + "', @article = N'" + n(publication) +
           n(word) + "', @source_owner = N'dbo', @source_object = N'" + n(table) + kArticleOptions;
}

std::string help_publications() { return "exec sp_helpmergepublication"; }

std::string help_publication(std::string_view publication) {
    return "exec sp_helpmergepublication @publication = N'" + n(publication) + "'";
}

std::string job_id_text(std::span<const unsigned char> jobId) {
    std::string out = "0x";
    for (const unsigned char b : jobId) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

std::string start_job(std::string_view jobIdText) {
    return "exec msdb..sp_start_job @job_id = " + std::string(jobIdText);
}

std::string help_job(std::string_view jobIdText) {
    return "exec msdb..sp_help_job @job_id = " + std::string(jobIdText) + ", @job_aspect = N'job'";
}

std::string add_subscription(std::string_view publication, std::string_view subscriber,
                             std::string_view subscriberDb) {
    return "exec sp_addmergesubscription @publication = N'" + n(publication) + "', @subscriber = N'" +
           n(subscriber) + "', @subscriber_db = N'" + n(subscriberDb) + kSubscriptionOptions;
}

std::string help_subscription(std::string_view publication) {
    return "exec sp_helpmergesubscription @subscription_type = N'both', @publication = N'" + n(publication) + "'";
}

std::string drop_subscription(std::string_view publication, std::string_view subscriber,
                              std::string_view subscriberDb) {
    return "exec sp_dropmergesubscription @publication = N'" + n(publication) + "', @subscriber = N'" +
           n(subscriber) + "', @subscriber_db = N'" + n(subscriberDb) + "', @subscription_type = N'push'";
}

std::string drop_publication(std::string_view publication) {
    return "exec sp_dropmergepublication @publication = N'" + n(publication) + "'";
}

std::string subscription_cleanup(std::string_view publication, std::string_view publisher,
                                 std::string_view publisherDb) {
    return "exec sp_mergesubscription_cleanup @publication = N'" + n(publication) + "', @publisher = N'" +
           n(publisher) + "', @publisher_db = N'" + n(publisherDb) + "'";
}

}  // namespace log_stores::db_replication
